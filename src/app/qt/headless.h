#pragma once
// The program without a window: what a window would show, or a message box would say, goes
// to standard output as one line per event.
#include <cstdio>
#include <string>

#include "app/orvane_set_time.h"
#include "platform/shell.h"

namespace tidewell {

class HeadlessShell : public Shell {
public:
    explicit HeadlessShell(std::FILE* out) : out_(out) {}

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
    std::FILE* out_;
    std::int32_t exStyle_ = window_style::WS_EX_APPWINDOW;
};

class HeadlessReport : public WindowEvents {
public:
    HeadlessReport(std::FILE* out, bool dryRun) : out_(out), dryRun_(dryRun) {}

    void gpsTimeShown(const std::string& gpsText, const std::string& localText) override;
    void sentenceFailed(const Error& e) override;
    void clockSet(const ClockUpdate::Outcome& outcome, DateValue local) override;
    void clockRefused(const Error& e, DateValue local) override;
    void frameSent(Output output, const std::string& frame) override;
    void frameFailed(Output output, const Error& e) override;

    // The state start-up restored, in one line.
    void restored(OrvaneSetTime& window, const std::string& gpsPort, const std::string& serialPort);
    void line(const std::string& text);

private:
    std::FILE* out_;
    bool dryRun_;
};

}  // namespace tidewell
