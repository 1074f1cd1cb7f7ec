#include "app/program.h"

#include <utility>

#include "devices/port_names.h"
#include "devices/reception_tally.h"

namespace tidewell {

Program::Program(OrvaneSetTime::Platform platform, OrvaneSetTime::Components components,
                 EventLoop& loop, const PortMap& ports, std::string settingsFile,
                 TimeServiceProbe* timeServices)
    : window_(platform, components, events_, std::move(settingsFile)), loop_(loop), ports_(ports),
      nmea_(components.nmea), serial_(components.serial), timeServices_(timeServices),
      gpsWatch_(nmea_, loop) {
    nmea_.PortStateChanged = [this] {
        gpsOpenSeconds_ = 0;
        gpsWatch_.follow();
        if (started_)
            events_.eventLine("gps port: " + window_.gpsPort() +
                              (nmea_.isOpen() ? " open" : " closed"));
    };
    nmea_.SentencesLate = [this](std::uint64_t count) {
        events_.eventLine("gps: " + std::to_string(count) +
                          (count == 1 ? " sentence" : " sentences") +
                          " arrived late (backlog); the clock was not set from them");
    };
    nmea_.lineSpeedSetting = [&ports] { return ports.lineSpeed(); };
    // Told once; a reopen after an unplug that finds the same speed says nothing new.
    nmea_.SpeedFound = [this](int baud) {
        if (std::exchange(gpsSpeedTold_, baud) != baud)
            events_.eventLine("gps port: " + window_.gpsPort() + " at " + std::to_string(baud) +
                              " baud (BAUD=auto)");
    };
    window_.Timer1.EnabledChanged = [this] { followDisplayTimer(); };
}

void Program::start() {
    window_.Form_Load();
    started_ = true;
    events_.loaded(window_, nmea_.PortNumber > 0 ? ports_(nmea_.PortNumber) : "",
                   window_.serialSyncOn() ? ports_(serial_.CommPort) : "");
    events_.outputsSwitched(window_.serialSyncOn(), window_.udpSyncOn());
    // Start-up says nothing of a port that did not open; this says why, and tries again.
    retryPorts();
    // Locked to the clock, only the broadcast timer's tick at a second boundary can see a new
    // second; its nine other ticks would only cost wake-ups, so it ticks once a second.
    secondTicker_ = loop_.everyPeriod(1000, [this] { secondTick(); });
    followDisplayTimer();
    if (!window_.extended().setsClock) {
        events_.eventLine("clock: never set (SETCLOCK=0 under [GPS]); the displays and frames go on");
        return;
    }
    if (const auto delay = window_.extended().preciseDelay)
        events_.eventLine("clock: set once a minute to the millisecond (PRECISE=1, DELAYMS=" +
                        std::to_string(delay->count()) + ")");
    else
        events_.eventLine("clock: set once a minute in whole seconds (PRECISE=0)");
    if (timeServices_) checkTimeServices();
}

void Program::stop() {
    events_.eventLine("stopping");
    window_.Form_Unload();
    loop_.quit(0);
}

void Program::secondTick() {
    window_.SendUDP.tick();
    if (++seconds_ % kReopenEverySeconds == 0) retryPorts();
    // Rejected sentences show nothing else, and a receiver without a fix looks like a program
    // that has stopped.
    if (nmea_.isOpen() && ++gpsOpenSeconds_ % kReceptionReportSeconds == 0)
        if (const std::string why = noTimeReport(nmea_.takeTally(), kReceptionReportSeconds);
            !why.empty())
            events_.eventLine("gps: " + why);
}

// Every port the lists and the check box want open is tried until it opens, whatever kept it
// closed: a receiver plugged in after the service started, a port another program held. Turning
// serial sync off or choosing "None" ends the tries.
void Program::retryPorts() {
    if (window_.gpsPortWanted() && !nmea_.isOpen())
        tryToOpen("gps port", nmea_.PortNumber, gpsFailure_, [this] { nmea_.OpenPort(); }, nullptr);
    if (window_.serialSyncPortWanted() && !serial_.PortOpen())
        tryToOpen("serial sync", serial_.CommPort, serialFailure_,
                  [this] { serial_.PortOpen(true); }, "open");
}

void Program::tryToOpen(const char* name, int port, std::string& toldReason,
                        const std::function<void()>& open, const char* opened) {
    const std::string label = portLabel(port, ports_(port));
    try {
        open();
        if (opened) events_.eventLine(std::string(name) + ": " + label + " " + opened);
        toldReason.clear();
    } catch (const Error& e) {
        const std::string reason = openFailureReason(e);
        if (std::exchange(toldReason, reason) != reason)
            events_.eventLine(std::string(name) + ": " + label + " cannot open: " + reason);
    }
}

// A service found once is not looked for again: the user has been told, once a run.
void Program::checkTimeServices() {
    timeServiceCheck_ = loop_.after(kTimeServiceCheckMs, [this] { checkTimeServices(); });
    timeServices_->probe([this](std::optional<std::string> service) {
        if (!service || std::exchange(timeServiceTold_, true)) return;
        timeServiceCheck_.reset();
        events_.otherTimeService(*service, window_.settingsFile());
    });
}

// The display timer ticks the loop only while it is enabled (the window shown).
void Program::followDisplayTimer() {
    const Timer& timer = window_.Timer1;
    if (!timer.Enabled()) {
        displayTicker_.reset();
    } else if (!displayTicker_) {
        displayTicker_ = loop_.everyPeriod(timer.Interval(), [this] { window_.Timer1.tick(); });
        window_.Timer1.tick();  // refreshed at once, not one interval later
    }
}

}  // namespace tidewell
