#pragma once
// The program without a window: what a window would show, or a message box would say, goes
// to standard output as one line per event.
#include <string>
#include <vector>

#include "app/orvane_set_time.h"
#include "app/report_flow.h"
#include "app/report_output.h"
#include "app/window_view.h"
#include "platform/event_loop.h"
#include "platform/shell.h"

namespace tidewell {

class HeadlessReport;

// No window, no tray: what a message box would say becomes a report line.
class HeadlessShell : public Shell {
public:
    HeadlessShell(HeadlessReport& report, EventLoop& loop) : report_(report), loop_(loop) {}

    void showWindow(bool) override {}
    void showInTaskbar(bool) override {}
    void addTrayIcon(const TrayIconRecord&) override {}
    void modifyTrayIcon(const TrayIconRecord&) override {}
    void removeTrayIcon(const TrayIconRecord&) override {}
    MsgBoxAnswer messageBox(std::string_view text, std::string_view title, MsgBoxIcon,
                            MsgBoxButtons) override;
    std::string executablePath() const override;
    void quit() override { loop_.quit(0); }

private:
    HeadlessReport& report_;
    EventLoop& loop_;
};

class HeadlessReport : public WindowView {
public:
    HeadlessReport(ReportOutput& out, EventLoop& loop, bool dryRun);

    void gpsTimeShown(const std::string& gpsText, const std::string& localText) override;
    void sentenceFailed(const Error& e) override;
    void clockSet(const ClockUpdate::Outcome& outcome, DateValue local) override;
    void clockRefused(const Error& e, DateValue local) override;
    void frameSent(Output output, const std::string& frame) override;
    void frameFailed(Output output, const Error& e) override;
    void settingReadAs(std::string_view section, std::string_view key, const std::string& text,
                       const std::string& how) override;
    void settingsNotSaved(const std::string& file, const std::string& reason) override;

    // The state start-up restored, a line for each part.
    void loaded(const OrvaneSetTime& window, const std::string& gpsDevice,
                const std::string& serialDevice) override;
    void eventLine(const std::string& text) override { line(text); }
    void line(const std::string& text);
    // A failure, told at most once a minute when it repeats.
    void failure(const std::string& text);

private:
    void settleRepeats();

    ReportOutput& out_;
    bool dryRun_;
    RepeatLimiter repeats_;
    EventLoop& loop_;
    EventLoop::Token repeatsTimer_;
    bool restored_ = false;
    std::vector<std::string> readAsLines_;  // held until the settings file's line is out
};

}  // namespace tidewell
