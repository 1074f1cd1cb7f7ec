#include "app/headless.h"

#include <algorithm>
#include <cstdio>

#include "platform/paths.h"

namespace tidewell {

namespace {

const char* outputName(WindowView::Output output) {
    return output == WindowView::Output::Serial ? "serial" : "udp";
}

}  // namespace

MsgBoxAnswer HeadlessShell::messageBox(std::string_view text, std::string_view title, MsgBoxIcon,
                                       MsgBoxButtons) {
    report_.failure("message: " + std::string(title) + ": " + std::string(text));
    return MsgBoxAnswer::Ok;
}

std::string HeadlessShell::executablePath() const {
    return paths::executablePath();
}

HeadlessReport::HeadlessReport(ReportOutput& out, EventLoop& loop, bool dryRun)
    : out_(out), dryRun_(dryRun), loop_(loop) {}

void HeadlessReport::line(const std::string& text) {
    out_.write(text);
}

void HeadlessReport::failure(const std::string& text) {
    for (const std::string& l : repeats_.admit(text, RepeatLimiter::Clock::now())) line(l);
    settleRepeats();
}

// Counts are told when their minute ends, also when the failure has stopped by then.
void HeadlessReport::settleRepeats() {
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

void HeadlessReport::gpsTimeShown(const std::string& gpsText, const std::string& localText) {
    line("gps: " + gpsText + " | local: " + localText);
}

void HeadlessReport::sentenceFailed(const Error& e) {
    failure("gps: sentence not used: " + e.description());
}

void HeadlessReport::clockSet(const ClockUpdate::Outcome& outcome, DateValue local) {
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
    if (outcome.wasAhead) {
        char was[32];
        std::snprintf(was, sizeof was, " (was %+.3f s)", double(outcome.wasAhead->count()) / 1000);
        what += was;
    }
    line(dryRun_ ? "clock: would set " + what + " (--no-set-clock)" : "clock: set " + what);
}

void HeadlessReport::clockRefused(const Error& e, DateValue) {
    failure("clock: refused: " + e.description());
}

void HeadlessReport::frameSent(Output output, const std::string& frame) {
    line(std::string("frame ") + outputName(output) + ": " + frame);
}

void HeadlessReport::frameFailed(Output output, const Error& e) {
    failure(std::string("frame ") + outputName(output) +
            " not sent: " + std::to_string(e.number()) + " " + e.description());
}

void HeadlessReport::settingReadAs(std::string_view section, std::string_view key,
                                   const std::string& text, const std::string& how) {
    std::string l =
        "settings: [" + std::string(section) + "] " + std::string(key) + " \"" + text + "\" " + how;
    if (restored_) {
        line(l);
    } else {
        readAsLines_.push_back(std::move(l));
    }
}

void HeadlessReport::settingsNotSaved(const std::string& file, const std::string& reason) {
    std::string l = "settings: cannot save to " + file + ": " + reason +
                    "; changes last until the program ends";
    if (restored_)
        failure(l);
    else if (std::find(readAsLines_.begin(), readAsLines_.end(), l) == readAsLines_.end())
        readAsLines_.push_back(std::move(l));  // start-up's writes fail alike
}

void HeadlessReport::loaded(const OrvaneSetTime& w, const std::string& gpsPort,
                            const std::string& serialPort) {
    line("settings: " + w.settingsFile());
    for (const std::string& l : readAsLines_) line(l);
    readAsLines_.clear();
    restored_ = true;
    line("gps port: " + w.Combo1.Text() + (gpsPort.empty() ? "" : " " + gpsPort) +
         (w.NMEA1.isOpen() ? " open" : " closed") +
         (w.Check3.Value() == 1 ? ", sets date and time" : ", sets time only"));
    line("serial sync: " + std::string(w.Check2.Value() == 1 ? "on " : "off ") + w.Combo2.Text() +
         (serialPort.empty() ? "" : " " + serialPort) +
         (w.MSComm1.PortOpen() ? " open" : " closed") + ", " + w.SerialRate.Text());
    line("udp sync: " + std::string(w.Check1.Value() == 1 ? "on to " : "off, to ") +
         w.UDPBroadcast.RemoteHost + ":" + std::to_string(w.UDPBroadcast.RemotePort) + ", " +
         w.UDPrate.Text());
    line(std::string("frames: ") + (w.SyncUsesUTC.value_or(false) ? "UTC" : "local time") +
         (w.Check4.Value() != 0 ? ", battery save" : ""));
}

}  // namespace tidewell
