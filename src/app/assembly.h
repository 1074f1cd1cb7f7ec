#pragma once
// What both mains build alike, each part after those it needs: the event report and the two
// shells; then, once the settings file is known, the stores, the clock the options ask for, the
// port map, the devices over it, and the program with its listeners. `Parts` names one
// platform's classes and makes the two that need more than a constructor's defaults.
#include <optional>
#include <string>

#include "app/clock_history.h"
#include "app/event_report.h"
#include "app/extended_settings.h"
#include "app/failure_boxes.h"
#include "app/headless_shell.h"
#include "app/metrics.h"
#include "app/options.h"
#include "app/program.h"
#include "app/report_output.h"
#include "devices/nmea_receiver.h"
#include "devices/serial_port.h"
#include "devices/udp_socket.h"
#include "app/status.h"
#include "app/status_endpoint.h"
#include "platform/dry_run_clock.h"
#include "platform/paths.h"
#include "settings/file_ops.h"
#include "settings/ini_profile.h"
#include "settings/settings_path.h"

namespace tidewell {

// chrony's socket where the platform names one (`Parts::Refclock`); none elsewhere.
template <class Parts>
struct RefclockPart {
    struct type {};
    static RefclockSocket* of(type&) { return nullptr; }
};
template <class Parts>
    requires requires { typename Parts::Refclock; }
struct RefclockPart<Parts> {
    using type = typename Parts::Refclock;
    static RefclockSocket* of(type& socket) { return &socket; }
};

template <class Parts>
class Assembly {
public:
    // The report goes on beside a window: one line per event, for logs and scripts.
    Assembly(const Options& options, bool windowed, typename Parts::Loop& loop, int reportFd)
        : output(reportFd, loop), report(output, loop, options.noSetClock, options.logLevel),
          headless(report, loop), desktop(loop),
          shell(windowed ? static_cast<Shell&>(desktop) : headless), options_(options),
          windowed_(windowed), loop_(loop) {}

    // The rest, over `settingsFile`; the program is not started.
    Program& build(const std::string& settingsFile) {
        // A writer killed mid-write leaves its temporary file beside the settings file.
        files::removeStaleTemporaryFiles(settingsFile);
        return core_.emplace(*this, settingsFile).program;
    }
    // The clock history's rows, for the status endpoint; after build().
    ClockHistory& history() { return core_->history; }

    // After start-up, which reads where the metrics go: the status endpoint and the metrics
    // file. `priority` is the loop's, as raised. Returns where the endpoint listens (empty:
    // nowhere).
    std::string serveStatus(const std::string& priority) {
        Core& c = *core_;
        ProgramEvents& events = c.program.events();
        events.loopPriority(priority, !priority.starts_with("priority: normal"));
        // A later start with the same settings asks for the window instead of running beside.
        const auto show = [this, &c, &events] {
            if (!windowed_) return false;
            events.eventLine("window: shown, as another start of the program asked");
            c.program.window().trayClicked(TrayButton::Left);
            return true;
        };
        c.endpoint.emplace(
            loop_, options_.statusSocket,
            [&c, show](const StatusRequest& request) {
                return answerStatusRequest(
                    request, c.status, [&c] { return c.history.statusAnswer(); }, show);
            },
            [&events](const std::string& line) { events.eventLine(line); });
        if (const std::string& file = c.program.window().extended().metricsFile; !file.empty()) {
            events.eventLine("metrics: written once a minute to " + file);
            c.metrics.emplace(file, c.status, loop_, events);
        }
        return c.endpoint->path();
    }

    ReportOutput output;
    EventReport report;
    HeadlessShell headless;
    typename Parts::DesktopShell desktop;
    Shell& shell;

private:
    struct Core {
        Core(Assembly& a, const std::string& settingsFile)
            : autoRun(Parts::autoRun(a.options_)),
              clock(a.options_.noSetClock ? static_cast<SystemClock&>(dryRun) : real),
              ports(profile, settingsFile), nmea(ports, receiverDates()), serial(ports),
              timeServices(Parts::timeServices(a.loop_)),
              program({a.shell, profile, autoRun, clock, paths::executablePath()},
                      {nmea, serial, udp, RefclockPart<Parts>::of(refclock)}, a.loop_, ports,
                      settingsFile,
                      // A clock left alone is not fought over.
                      a.options_.noSetClock ? nullptr : &timeServices),
              boxes(a.shell),
              history(historyFilePath(settingsFile,
                                      !a.options_.settingsFile.empty() || a.options_.demo),
                      a.loop_, program.events(), a.options_.noSetClock),
              status(ports, a.options_.noSetClock) {
            program.events().add(a.report);
            if (a.windowed_) program.events().add(boxes);
            program.events().add(history);
            program.events().add(status);
        }

        IniProfileStore profile;
        typename Parts::AutoRun autoRun;
        typename Parts::Clock real;
        DryRunClock dryRun{real};
        SystemClock& clock;
        const PortMap ports;
        PortNmeaReceiver nmea;
        LineSerialPort serial;
        SystemUdpSocket udp;
        typename RefclockPart<Parts>::type refclock;
        typename Parts::TimeServices timeServices;
        Program program;
        FailureBoxes boxes;
        ClockHistory history;
        StatusRecorder status;
        std::optional<MetricsFile> metrics;
        std::optional<StatusEndpoint> endpoint;
    };

    const Options& options_;
    bool windowed_;
    typename Parts::Loop& loop_;
    std::optional<Core> core_;
};

}  // namespace tidewell
