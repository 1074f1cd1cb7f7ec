#include "app/program.h"

#include <utility>

#include "devices/line_speed.h"
#include "devices/port_names.h"
#include "devices/reception_tally.h"
#include "platform/calendar.h"

namespace tidewell {

namespace {
constexpr std::size_t kPortEntrySize = 750;
constexpr const char* kNone = "None";
}  // namespace

std::string PortMap::operator()(int port) const {
    std::map<int, std::string> overrides;
    if (std::string path = profile_.getString("Ports", "COM" + std::to_string(port), "",
                                              kPortEntrySize, settingsFile_);
        !path.empty())
        overrides[port] = path;
    return devicePathFor(port, overrides);
}

std::string PortMap::lineSpeedText() const {
    return profile_.getString("Ports", "BAUD", "", kPortEntrySize, settingsFile_);
}

std::string PortMap::lineSpeed() const {
    std::string text = lineSpeedText();
    return parseLineSpeed(text) ? text : "auto";
}

DateWindow receiverDates() {
    return gpsDateWindow(calendar::parseCompilerDate(__DATE__).value_or(CivilDate{2026, 1, 1}));
}

Program::Program(OrvaneSetTime::Platform platform, OrvaneSetTime::Components components,
                 EventLoop& loop, const PortMap& ports, std::string settingsFile, WindowView& view,
                 TimeServiceProbe* timeServices)
    : window_(platform, components, std::move(settingsFile)), loop_(loop), ports_(ports),
      view_(view), nmea_(components.nmea), serial_(components.serial), shell_(platform.shell),
      timeServices_(timeServices) {
    window_.addView(*this);
    window_.addView(view);
    nmea_.PortStateChanged = [this] {
        gpsOpenSeconds_ = 0;
        watchGps();
        if (started_)
            view_.eventLine(std::string("gps port: ") + window_.Combo1.Text() +
                            (nmea_.isOpen() ? " open" : " closed"));
    };
    nmea_.SentencesLate = [this](std::uint64_t count) {
        view_.eventLine("gps: " + std::to_string(count) +
                        (count == 1 ? " sentence" : " sentences") +
                        " arrived late (backlog); the clock was not set from them");
    };
    nmea_.lineSpeedSetting = [&ports] { return ports.lineSpeed(); };
    // Told once; a reopen after an unplug that finds the same speed says nothing new.
    nmea_.SpeedFound = [this](int baud) {
        if (std::exchange(gpsSpeedTold_, baud) != baud)
            view_.eventLine("gps port: " + window_.Combo1.Text() + " at " + std::to_string(baud) +
                            " baud (BAUD=auto)");
    };
}

void Program::start() {
    window_.Form_Load();
    if (const std::string speed = ports_.lineSpeedText(); !parseLineSpeed(speed))
        view_.settingReadAs("Ports", "BAUD", speed, "is not a line speed or auto; read as auto");
    started_ = true;
    view_.loaded(window_, nmea_.PortNumber > 0 ? ports_(nmea_.PortNumber) : "",
                 window_.Check2.Value() == 1 ? ports_(serial_.CommPort) : "");
    // Start-up says nothing of a port that did not open; this says why, and tries again.
    retryPorts();
    // Locked to the clock, only the broadcast timer's tick at a second boundary can see a new
    // second; its nine other ticks would only cost wake-ups, so it ticks once a second.
    secondTicker_ = loop_.everyPeriod(1000, [this] { secondTick(); });
    timerChanged(window_.Timer1);
    if (!window_.setsClock()) {
        view_.eventLine("clock: never set (SETCLOCK=0 under [GPS]); the displays and frames go on");
        return;
    }
    if (const auto delay = window_.preciseDelay())
        view_.eventLine("clock: set once a minute to the millisecond (PRECISE=1, DELAYMS=" +
                        std::to_string(delay->count()) + ")");
    else
        view_.eventLine("clock: set once a minute in whole seconds (PRECISE=0)");
    if (timeServices_) checkTimeServices();
}

void Program::stop() {
    view_.eventLine("stopping");
    window_.Form_Unload();
    loop_.quit(0);
}

void Program::watchGps() {
    gpsWatch_.reset();
    if (nmea_.readHandle() >= 0)
        gpsWatch_ = loop_.watchReadable(nmea_.readHandle(), [this] { nmea_.handleReadable(); });
}

void Program::secondTick() {
    window_.SendUDP.tick();
    if (++seconds_ % kReopenEverySeconds == 0) retryPorts();
    // Rejected sentences show nothing else, and a receiver without a fix looks like a program
    // that has stopped.
    if (nmea_.isOpen() && ++gpsOpenSeconds_ % kReceptionReportSeconds == 0)
        if (const std::string why = noTimeReport(nmea_.takeTally(), kReceptionReportSeconds);
            !why.empty())
            view_.eventLine("gps: " + why);
}

// Every port the lists and the check box want open is tried until it opens, whatever kept it
// closed: a receiver plugged in after the service started, a port another program held. Turning
// serial sync off or choosing "None" ends the tries.
void Program::retryPorts() {
    if (window_.Combo1.Text() != kNone && nmea_.PortNumber > 0 && !nmea_.isOpen())
        tryToOpen("gps port", nmea_.PortNumber, gpsFailure_, [this] { nmea_.OpenPort(); }, nullptr);
    if (window_.Check2.Value() == 1 && window_.Combo2.Text() != kNone && !serial_.PortOpen())
        tryToOpen("serial sync", serial_.CommPort, serialFailure_,
                  [this] { serial_.PortOpen(true); }, "open");
}

void Program::tryToOpen(const char* name, int port, std::string& toldReason,
                        const std::function<void()>& open, const char* opened) {
    const std::string label = portLabel(port, ports_(port));
    try {
        open();
        if (opened) view_.eventLine(std::string(name) + ": " + label + " " + opened);
        toldReason.clear();
    } catch (const Error& e) {
        const std::string reason = openFailureReason(e);
        if (std::exchange(toldReason, reason) != reason)
            view_.eventLine(std::string(name) + ": " + label + " cannot open: " + reason);
    }
}

// A service found once is not looked for again: the user has been told.
void Program::checkTimeServices() {
    timeServiceCheck_ = loop_.after(kTimeServiceCheckMs, [this] { checkTimeServices(); });
    timeServices_->probe([this](std::optional<std::string> service) {
        if (service && !timeServiceTold_) tellTimeService(*service);
    });
}

// Told once per run, as a refused set is: a line, and a box when there is a window.
void Program::tellTimeService(const std::string& service) {
    timeServiceTold_ = true;
    timeServiceCheck_.reset();
    view_.eventLine("time service: " + service +
                    " also sets the clock, which will not settle; turn it off, or set SETCLOCK=0 "
                    "under [GPS] to only show the time and feed the displays");
    if (!window_.reportClockRefusalInMessageBox) return;
    shell_.messageBox(
        service + " also sets this PC's clock. Each minute Tidewell sets it from the GPS and " +
            service + " moves it back, so the clock never settles.\n\nTurn " + service +
            " off, or let Tidewell only show the GPS time and feed the wall clocks: "
            "set SETCLOCK=0 in section [GPS] of " +
            window_.settingsFile() + ".",
        "Tidewell", MsgBoxIcon::Exclamation, MsgBoxButtons::Ok);
}

// The display timer exists only while it is enabled (the window shown).
void Program::timerChanged(const Timer& timer) {
    if (&timer != &window_.Timer1) return;
    if (!timer.Enabled()) {
        displayTicker_.reset();
    } else if (!displayTicker_) {
        displayTicker_ = loop_.everyPeriod(timer.Interval(), [this] { window_.Timer1.tick(); });
        window_.Timer1.tick();  // refreshed at once, not one interval later
    }
}

}  // namespace tidewell
