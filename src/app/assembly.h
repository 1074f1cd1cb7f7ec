#pragma once
// What both mains build alike, each part after those it needs: the event report and the two
// shells; then, once the settings file is known, the stores, the clock the options ask for, the
// port map, the devices over it, and the program with its listeners. `Parts` names one
// platform's classes and makes the two that need more than a constructor's defaults.
#include <optional>
#include <string>

#include "app/event_report.h"
#include "app/extended_settings.h"
#include "app/failure_boxes.h"
#include "app/headless_shell.h"
#include "app/options.h"
#include "app/program.h"
#include "app/report_output.h"
#include "devices/nmea_receiver.h"
#include "devices/serial_port.h"
#include "devices/udp_socket.h"
#include "platform/dry_run_clock.h"
#include "platform/paths.h"
#include "settings/file_ops.h"
#include "settings/ini_profile.h"

namespace tidewell {

template <class Parts>
class Assembly {
public:
    // The report goes on beside a window: one line per event, for logs and scripts.
    Assembly(const Options& options, bool windowed, typename Parts::Loop& loop, int reportFd)
        : output(reportFd, loop), report(output, loop, options.noSetClock), headless(report, loop),
          desktop(loop), shell(windowed ? static_cast<Shell&>(desktop) : headless),
          options_(options), windowed_(windowed), loop_(loop) {}

    // The rest, over `settingsFile`; the program is not started.
    Program& build(const std::string& settingsFile) {
        // A writer killed mid-write leaves its temporary file beside the settings file.
        files::removeStaleTemporaryFiles(settingsFile);
        return core_.emplace(*this, settingsFile).program;
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
                      {nmea, serial, udp}, a.loop_, ports, settingsFile,
                      // A clock left alone is not fought over.
                      a.options_.noSetClock ? nullptr : &timeServices),
              boxes(a.shell) {
            program.events().add(a.report);
            if (a.windowed_) program.events().add(boxes);
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
        typename Parts::TimeServices timeServices;
        Program program;
        FailureBoxes boxes;
    };

    const Options& options_;
    bool windowed_;
    typename Parts::Loop& loop_;
    std::optional<Core> core_;
};

}  // namespace tidewell
