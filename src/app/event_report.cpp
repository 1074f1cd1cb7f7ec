#include "app/event_report.h"

#include <algorithm>
#include <cstdio>
#include <span>
#include <utility>

namespace tidewell {

namespace {

const char* outputName(Output output) {
    return output == Output::Serial ? "serial" : "udp";
}

}  // namespace

EventReport::EventReport(ReportOutput& out, EventLoop& loop, bool dryRun,
                         std::optional<LogLevel> level)
    : out_(out), dryRun_(dryRun), levelOption_(level), loop_(loop) {}

void EventReport::line(const std::string& text) {
    out_.write(text);
    if (told) told(text);
}

void EventReport::secondLine(const std::string& text) {
    if (level_ == LogLevel::Seconds) out_.write(text);
}

void EventReport::failure(const std::string& text) {
    for (const std::string& l : repeats_.admit(text, RepeatLimiter::Clock::now())) line(l);
    settleRepeats();
}

// Counts are told when their minute ends, also when the failure has stopped by then.
void EventReport::settleRepeats() {
    const auto now = RepeatLimiter::Clock::now();
    for (const std::string& l : repeats_.expire(now)) line(l);
    if (const auto next = repeats_.nextExpiry()) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - now);
        repeatsTimer_ = loop_.after(int(std::max<std::chrono::milliseconds>(wait, {}).count()),
                                    [this] { settleRepeats(); });
    } else {
        repeatsTimer_.reset();
    }
}

void EventReport::gpsTimeShown(const std::string& gpsText, const std::string& localText) {
    secondLine("gps: " + gpsText + " | local: " + localText);
}

void EventReport::sentenceFailed(const Error& e) {
    failure("gps: sentence not used: " + e.description());
}

void EventReport::clockSet(const ClockUpdate::Outcome& outcome, DateValue local) {
    char date[32], time[32];
    if (const auto& t = outcome.setTo) {
        std::snprintf(date, sizeof date, "%04d-%02d-%02d", t->wYear, t->wMonth, t->wDay);
        std::snprintf(time, sizeof time, "%02d:%02d:%02d.%03d", t->wHour, t->wMinute, t->wSecond,
                      t->wMilliseconds);
    } else {
        const DateParts p = datePartsOf(local);
        std::snprintf(date, sizeof date, "%04d-%02d-%02d", p.year, p.month, p.day);
        std::snprintf(time, sizeof time, "%02d:%02d:%02d", p.hour, p.minute, p.second);
    }
    std::string what = outcome.dateSet ? "date " + std::string(date) + " and time " + time
                                       : "time " + std::string(time);
    if (outcome.setTo && outcome.wasAhead) {
        char was[32];
        // Whole numbers only: Qt sets the user's locale, whose decimal point may be a comma.
        const long long ms = outcome.wasAhead->count(), size = ms < 0 ? -ms : ms;
        std::snprintf(was, sizeof was, " (was %c%lld.%03lld s)", ms < 0 ? '-' : '+', size / 1000,
                      size % 1000);
        what += was;
    }
    line(dryRun_ ? "clock: would set " + what + " (--no-set-clock)" : "clock: set " + what);
}

void EventReport::clockRefused(const Error& e, DateValue) {
    failure("clock: refused: " + e.description());
}

void EventReport::frameSent(Output output, const std::string& frame) {
    secondLine(std::string("frame ") + outputName(output) + ": " + frame);
}

void EventReport::frameFailed(Output output, const Error& e) {
    failure(std::string("frame ") + outputName(output) +
            " not sent: " + std::to_string(e.number()) + " " + e.description());
}

void EventReport::settingReadAs(std::string_view section, std::string_view key,
                                   const std::string& text, const std::string& how) {
    std::string l =
        "settings: [" + std::string(section) + "] " + std::string(key) + " \"" + text + "\" " + how;
    if (restored_) {
        line(l);
    } else {
        readAsLines_.push_back(std::move(l));
    }
}

void EventReport::settingsNotSaved(const std::string& file, const std::string& reason) {
    std::string l = "settings: cannot save to " + file + ": " + reason +
                    "; changes last until the program ends";
    if (restored_)
        failure(l);
    else if (std::find(readAsLines_.begin(), readAsLines_.end(), l) == readAsLines_.end())
        readAsLines_.push_back(std::move(l));  // start-up's writes fail alike
}

void EventReport::otherTimeService(const std::string& service, const std::string&) {
    line("time service: " + service +
         " also sets the clock, which will not settle; turn it off, or set SETCLOCK=0 under "
         "[GPS] to only show the time and feed the displays");
}

// How the clock will be kept, as start-up's line says it.
std::string EventReport::clockModeText(const OrvaneSetTime& w) {
    if (w.refclock().on()) return "handed to chrony through " + w.refclock().path();
    if (!w.extended().setsClock)
        return "never set (SETCLOCK=0 under [GPS]); the displays and frames go on";
    if (const auto delay = w.extended().preciseDelay)
        return "set once a minute to the millisecond (PRECISE=1, DELAYMS=" +
               std::to_string(delay->count()) + ")";
    return "set once a minute in whole seconds (PRECISE=0)";
}

void EventReport::loaded(const OrvaneSetTime& w, const std::string& gpsPort,
                         const std::string& serialPort) {
    level_ = levelOption_.value_or(w.extended().logLevel);
    const std::pair<const char*, std::string> parts[] = {
        {"settings", w.settingsFile()},
        {"gps port", w.gpsPort() + (gpsPort.empty() ? "" : " " + gpsPort) +
                         (w.NMEA1.isOpen() ? " open" : " closed") +
                         (w.usesGpsDate() ? ", sets date and time" : ", sets time only")},
        {"serial sync", std::string(w.serialSyncOn() ? "on " : "off ") + w.serialSyncPort() +
                            (serialPort.empty() ? "" : " " + serialPort) +
                            (w.MSComm1.PortOpen() ? " open" : " closed") + ", " + w.serialRate()},
        {"udp sync", std::string(w.udpSyncOn() ? "on to " : "off, to ") +
                         w.UDPBroadcast.RemoteHost + ":" +
                         std::to_string(w.UDPBroadcast.RemotePort) + ", " + w.udpRate()},
        {"frames", std::string(w.framesInUtc() ? "UTC" : "local time") +
                       (w.batterySave() ? ", battery save" : "")},
        {"clock", clockModeText(w)},
    };
    // A service's log starts with one line, the terminal's with one per part.
    if (level_ == LogLevel::Events) {
        std::string start = "start:";
        const char* separator = " ";
        for (const auto& [name, state] : parts) {
            start += separator + std::string(name) + " " + state;
            separator = "; ";
        }
        line(start);
    } else {
        line("settings: " + parts[0].second);
    }
    for (const std::string& l : readAsLines_) line(l);
    readAsLines_.clear();
    restored_ = true;
    if (level_ == LogLevel::Seconds)
        for (const auto& [name, state] : std::span(parts).subspan(1))
            line(std::string(name) + ": " + state);
}

void EventReport::refclockFailed(const Error& e) {
    line("refclock: " + e.description() +
         "; no samples until it can be reached, tried every minute");
}

void EventReport::refclockResumed(const std::string& path) {
    line("refclock: samples go to chrony through " + path + " again");
}

}  // namespace tidewell
