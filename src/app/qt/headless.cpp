#include "app/qt/headless.h"

#include <QCoreApplication>
#include <cstdio>
#include <filesystem>

namespace tidewell {

namespace {

const char* outputName(WindowEvents::Output output) {
    return output == WindowEvents::Output::Serial ? "serial" : "udp";
}

}  // namespace

std::int32_t HeadlessShell::SetWindowLong(int, std::int32_t value) {
    auto old = exStyle_;
    exStyle_ = value;
    return old;
}

void HeadlessShell::MsgBox(std::string_view text, std::string_view title, MsgBoxStyle) {
    std::fprintf(out_, "message: %.*s: %.*s\n", int(title.size()), title.data(), int(text.size()),
                 text.data());
    std::fflush(out_);
}

std::string HeadlessShell::AppPath() const {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : exe.parent_path().string();
}

std::string HeadlessShell::EXEName() const {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string("tidewell") : exe.stem().string();
}

void HeadlessShell::endProgram() {
    QCoreApplication::exit(0);
}

void HeadlessReport::line(const std::string& text) {
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

void HeadlessReport::gpsTimeShown(const std::string& gpsText, const std::string& localText) {
    line("gps: " + gpsText + " | local: " + localText);
}

void HeadlessReport::sentenceFailed(const Error& e) {
    line("gps: sentence not used: " + e.description());
}

void HeadlessReport::clockSet(const ClockUpdate::Outcome& outcome, DateValue local) {
    const DateParts p = datePartsOf(local);
    char date[16], time[16];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", p.year, p.month, p.day);
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", p.hour, p.minute, p.second);
    std::string what = outcome.dateSet ? "date " + std::string(date) + " and time " + time
                                       : "time " + std::string(time);
    line(dryRun_ ? "clock: would set " + what + " (--no-set-clock)" : "clock: set " + what);
}

void HeadlessReport::clockRefused(const Error& e, DateValue) {
    line("clock: refused: " + e.description());
}

void HeadlessReport::frameSent(Output output, const std::string& frame) {
    line(std::string("frame ") + outputName(output) + ": " + frame);
}

void HeadlessReport::frameFailed(Output output, const Error& e) {
    line(std::string("frame ") + outputName(output) + " not sent: " + std::to_string(e.number()) +
         " " + e.description());
}

void HeadlessReport::restored(OrvaneSetTime& w, const std::string& gpsPort,
                              const std::string& serialPort) {
    line("settings: " + w.settingsFile());
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
