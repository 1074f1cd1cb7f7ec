#pragma once
// The program without a window: what a window would show, or a message box would say, goes
// to standard output as one line per event.
#include <QSocketNotifier>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "app/orvane_set_time.h"
#include "app/report_flow.h"
#include "platform/shell.h"

namespace tidewell {

// Standard output that never holds up the event loop. A reader that stalls (a pipe nobody
// drains, a terminal paused with Ctrl-S) costs queued and then dropped lines, never frames or
// the stop signals; a reader that is gone (EPIPE) costs only the lines.
class ReportOutput {
public:
    explicit ReportOutput(int fd, std::size_t queueLimit = 256 * 1024);
    ~ReportOutput();
    ReportOutput(const ReportOutput&) = delete;
    ReportOutput& operator=(const ReportOutput&) = delete;

    void write(const std::string& line);

private:
    void flush();

    int fd_;
    bool ownFd_ = false;
    bool socket_ = false;
    int sharedFlags_ = -1;  // the inherited description's flags, when it had to be changed
    bool gone_ = false;
    LineQueue queue_;
    std::unique_ptr<QSocketNotifier> writable_;
};

class HeadlessReport;

class HeadlessShell : public Shell {
public:
    explicit HeadlessShell(HeadlessReport& report) : report_(report) {}

    std::int32_t GetWindowLong(int) override { return exStyle_; }
    std::int32_t SetWindowLong(int, std::int32_t value) override;
    bool Shell_NotifyIcon(std::uint32_t, const NotifyIconData&) override { return false; }
    std::uint32_t windowHandle() const override { return 1; }
    std::uint32_t iconHandle() const override { return 1; }
    void MsgBox(std::string_view text, std::string_view title, MsgBoxStyle style) override;
    std::string AppPath() const override;
    std::string EXEName() const override;
    void endProgram() override;

private:
    HeadlessReport& report_;
    std::int32_t exStyle_ = window_style::WS_EX_APPWINDOW;
};

class HeadlessReport : public WindowEvents {
public:
    HeadlessReport(ReportOutput& out, bool dryRun);

    void gpsTimeShown(const std::string& gpsText, const std::string& localText) override;
    void sentenceFailed(const Error& e) override;
    void clockSet(const ClockUpdate::Outcome& outcome, DateValue local) override;
    void clockRefused(const Error& e, DateValue local) override;
    void frameSent(Output output, const std::string& frame) override;
    void frameFailed(Output output, const Error& e) override;
    void settingReadAs(std::string_view section, std::string_view key, const std::string& text,
                       const std::string& how) override;

    // The state start-up restored, in one line.
    void restored(OrvaneSetTime& window, const std::string& gpsPort, const std::string& serialPort);
    void line(const std::string& text);
    // A failure, told at most once a minute when it repeats.
    void failure(const std::string& text);

private:
    void settleRepeats();

    ReportOutput& out_;
    bool dryRun_;
    RepeatLimiter repeats_;
    QTimer repeatsTimer_;
    bool restored_ = false;
    std::vector<std::string> readAsLines_;  // held until the settings file's line is out
};

}  // namespace tidewell
