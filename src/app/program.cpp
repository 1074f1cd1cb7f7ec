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
    events_.add(validTime_);
    nmea_.PortStateChanged = [this] {
        gpsOpenSeconds_ = 0;
        minuteTally_ = {};
        gpsWatch_.follow();
        const bool open = nmea_.isOpen();
        if (open)
            events_.lineSpeed(nmea_.lineBaud(), nmea_.huntingSpeed(), false);
        else
            events_.receptionTallied(nmea_.takeTally());
        events_.portChanged(PortRole::Gps,
                            open                 ? PortChange::Opened
                            : nmea_.deviceLost() ? PortChange::Lost
                                                 : PortChange::Closed,
                            portLabel(nmea_.PortNumber, ports_(nmea_.PortNumber)), "");
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
        events_.lineSpeed(baud, true, true);
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
    const auto& extended = window_.extended();
    RefclockFeed& refclock = window_.refclock();
    events_.clockMode(refclock.on()             ? ClockMode::Chrony
                      : !extended.setsClock     ? ClockMode::Never
                      : extended.preciseDelay   ? ClockMode::Precise
                                                : ClockMode::WholeSecond,
                      extended.receiverDelay);
    // chrony, not another time service, keeps the clock then: what matters is its socket.
    if (refclock.on())
        refclock.check();
    else if (extended.setsClock && timeServices_)
        checkTimeServices();
}

void Program::stop() {
    events_.eventLine("stopping");
    started_ = false;  // the port closed on the way out was not lost
    window_.Form_Unload();
    loop_.quit(0);
}

void Program::secondTick() {
    window_.SendUDP.tick();
    if (const auto change = validTime_.second()) events_.eventLine(*change);
    if (++seconds_ % kReopenEverySeconds == 0) retryPorts();
    if (seconds_ % kRefclockRetrySeconds == 0 && window_.refclock().failing())
        window_.refclock().check();
    // Rejected sentences show nothing else, and a receiver without a fix looks like a program
    // that has stopped.
    if (!nmea_.isOpen()) return;
    const ReceptionTally second = nmea_.takeTally();
    events_.receptionTallied(second);
    minuteTally_ += second;
    if (++gpsOpenSeconds_ % kReceptionReportSeconds == 0)
        if (const std::string why =
                noTimeReport(std::exchange(minuteTally_, {}), kReceptionReportSeconds);
            !why.empty())
            events_.eventLine("gps: " + why);
}

// Every port the lists and the check box want open is tried until it opens, whatever kept it
// closed: a receiver plugged in after the service started, a port another program held. Turning
// serial sync off or choosing "None" ends the tries.
void Program::retryPorts() {
    if (window_.gpsPortWanted() && !nmea_.isOpen())
        tryToOpen(PortRole::Gps, nmea_.PortNumber, gpsFailure_, [this] { nmea_.OpenPort(); });
    if (window_.serialSyncPortWanted() && !serial_.PortOpen())
        tryToOpen(PortRole::SerialSync, serial_.CommPort, serialFailure_,
                  [this] { serial_.PortOpen(true); });
}

void Program::tryToOpen(PortRole role, int port, std::string& toldReason,
                        const std::function<void()>& open) {
    const char* name = role == PortRole::Gps ? "gps port" : "serial sync";
    const std::string label = portLabel(port, ports_(port));
    try {
        open();
        // The GPS port tells its opening itself.
        if (role == PortRole::SerialSync) {
            events_.portChanged(role, PortChange::Opened, label, "");
            events_.eventLine(std::string(name) + ": " + label + " open");
        }
        toldReason.clear();
    } catch (const Error& e) {
        const std::string reason = openFailureReason(e);
        events_.portChanged(role, PortChange::Refused, label, reason);
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
