#include "app/qt/headless.h"

#include <QCoreApplication>
#include <cerrno>
#include <filesystem>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tidewell {

namespace {

const char* outputName(WindowEvents::Output output) {
    return output == WindowEvents::Output::Serial ? "serial" : "udp";
}

}  // namespace

ReportOutput::ReportOutput(int fd, std::size_t queueLimit) : fd_(fd), queue_(queueLimit) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        gone_ = true;
        return;
    }
    if (S_ISSOCK(st.st_mode)) {
        socket_ = true;  // send() takes MSG_DONTWAIT per call
    } else if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) {
        // An open file description of our own: O_NONBLOCK on the inherited one would also
        // make the writes of the shell that shares the terminal or pipe fail with EAGAIN.
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        fd_ = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        ownFd_ = fd_ >= 0;
        if (!ownFd_) {
            // No /proc, or no right to reopen the terminal: share the flag, and give the
            // description back as it was at the end.
            fd_ = fd;
            sharedFlags_ = ::fcntl(fd, F_GETFL);
            ::fcntl(fd, F_SETFL, sharedFlags_ | O_NONBLOCK);
        }
    }
    // Regular files never block, so they are written as they are.
    writable_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Write);
    writable_->setEnabled(false);
    QObject::connect(writable_.get(), &QSocketNotifier::activated, [this] { flush(); });
}

ReportOutput::~ReportOutput() {
    flush();  // what fits now; the program does not wait for a reader at exit
    writable_.reset();
    if (ownFd_) ::close(fd_);
    if (sharedFlags_ >= 0) ::fcntl(fd_, F_SETFL, sharedFlags_);
}

void ReportOutput::write(const std::string& line) {
    if (gone_) return;
    queue_.push(line);
    if (!writable_->isEnabled()) flush();
}

void ReportOutput::flush() {
    while (!gone_ && !queue_.empty()) {
        const std::string_view bytes = queue_.pending();
        const ssize_t n = socket_
                              ? ::send(fd_, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL)
                              : ::write(fd_, bytes.data(), bytes.size());
        if (n > 0) {
            queue_.consume(std::size_t(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
            break;
        } else {
            // EPIPE: nobody will ever read. Anything else (a full disk, a hung-up terminal)
            // loses what is queued, and the next line tries again.
            gone_ = errno == EPIPE;
            queue_.clear();
        }
    }
    if (writable_) writable_->setEnabled(!gone_ && !queue_.empty());
}

std::int32_t HeadlessShell::SetWindowLong(int, std::int32_t value) {
    auto old = exStyle_;
    exStyle_ = value;
    return old;
}

void HeadlessShell::MsgBox(std::string_view text, std::string_view title, MsgBoxStyle) {
    report_.failure("message: " + std::string(title) + ": " + std::string(text));
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

HeadlessReport::HeadlessReport(ReportOutput& out, bool dryRun) : out_(out), dryRun_(dryRun) {
    repeatsTimer_.setSingleShot(true);
    QObject::connect(&repeatsTimer_, &QTimer::timeout, [this] { settleRepeats(); });
}

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
        repeatsTimer_.start(std::max<std::chrono::milliseconds>(wait, {}));
    } else {
        repeatsTimer_.stop();
    }
}

void HeadlessReport::gpsTimeShown(const std::string& gpsText, const std::string& localText) {
    line("gps: " + gpsText + " | local: " + localText);
}

void HeadlessReport::sentenceFailed(const Error& e) {
    failure("gps: sentence not used: " + e.description());
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

void HeadlessReport::restored(OrvaneSetTime& w, const std::string& gpsPort,
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
