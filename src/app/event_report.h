#pragma once
// The program's events as lines, one per event, on standard output beside the window or
// without one: what a window would show, and headless what a message box would say. At the
// events level the lines of each second (the GPS time, the frames) are left out.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/log_level.h"
#include "app/orvane_set_time.h"
#include "app/program_events.h"
#include "app/report_flow.h"
#include "app/report_output.h"
#include "platform/event_loop.h"

namespace tidewell {

class EventReport : public ProgramEvents {
public:
    // `level`, when given, wins over the settings file's.
    EventReport(ReportOutput& out, EventLoop& loop, bool dryRun,
                std::optional<LogLevel> level = std::nullopt);

    void gpsTimeShown(const std::string& gpsText, const std::string& localText) override;
    void sentenceFailed(const Error& e) override;
    void clockSet(const ClockUpdate::Outcome& outcome, DateValue local) override;
    void clockRefused(const Error& e, DateValue local) override;
    void frameSent(Output output, const std::string& frame) override;
    void frameFailed(Output output, const Error& e) override;
    void settingReadAs(std::string_view section, std::string_view key, const std::string& text,
                       const std::string& how) override;
    void settingsNotSaved(const std::string& file, const std::string& reason) override;
    void otherTimeService(const std::string& service, const std::string& settingsFile) override;

    // The state start-up restored, a line for each part.
    void loaded(const OrvaneSetTime& window, const std::string& gpsDevice,
                const std::string& serialDevice) override;
    void eventLine(const std::string& text) override { line(text); }
    void refclockFailed(const Error& e) override;
    void refclockResumed(const std::string& path) override;
    void line(const std::string& text);
    static std::string clockModeText(const OrvaneSetTime& window);
    // A failure, told at most once a minute when it repeats.
    void failure(const std::string& text);

    // Hears each line but those of each second, as it is written.
    std::function<void(const std::string&)> told;

private:
    void settleRepeats();
    void secondLine(const std::string& text);

    ReportOutput& out_;
    bool dryRun_;
    std::optional<LogLevel> levelOption_;
    LogLevel level_ = LogLevel::Seconds;
    RepeatLimiter repeats_;
    EventLoop& loop_;
    EventLoop::Token repeatsTimer_;
    bool restored_ = false;
    std::vector<std::string> readAsLines_;  // held until the settings file's line is out
};

}  // namespace tidewell
