// The program on Linux: parts assembled over Qt's event loop, with the window and tray when
// there is a display, else headless.
#include <QCoreApplication>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/demo.h"
#include "app/event_report.h"
#include "app/failure_boxes.h"
#include "app/headless_shell.h"
#include "app/options.h"
#include "app/program.h"
#include "app/qt/event_loop_qt.h"
#include "app/qt/qt_window.h"
#include "app/qt/realtime_linux.h"
#include "app/qt/time_service_linux.h"
#include "devices/nmea_receiver_posix.h"
#include "devices/serial_port_posix.h"
#include "devices/udp_socket_posix.h"
#include "platform/dry_run_clock.h"
#include "platform/paths.h"
#include "platform/system_clock_linux.h"
#include "settings/autorun_xdg_linux.h"
#include "settings/file_ops.h"
#include "settings/ini_profile.h"
#include "settings/settings_path.h"

using namespace tidewell;

int main(int argc, char** argv) {
    std::string error;
    const auto options = parseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) return std::fprintf(stderr, "tidewell: %s\n%s", error.c_str(), kUsage), 2;
    if (options->help) return std::fputs(kUsage, stdout), 0;
    if (options->version)
        return std::printf("Tidewell %d.%d.%d\n", TIDEWELL_VERSION_MAJOR, TIDEWELL_VERSION_MINOR,
                           TIDEWELL_VERSION_REVISION),
               0;
    if (const std::string problem = settingsFileProblem(options->settingsFile); !problem.empty())
        return std::fprintf(stderr, "tidewell: %s\n", problem.c_str()), 2;

    QtEventLoop::takeStopSignals();
    bool windowed =
        !options->headless && (std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY"));
    const auto app = makeApplication(argc, argv, windowed);
    QtEventLoop loop;
    // The report goes on beside a window: one line per event, for logs and scripts.
    ReportOutput output(STDOUT_FILENO, loop);
    EventReport report(output, loop, options->noSetClock);
    HeadlessShell headlessShell(report, loop);
    QtShell desktopShell(loop);
    Shell& shell = windowed ? static_cast<Shell&>(desktopShell) : headlessShell;

    const std::string executable = paths::executablePath();
    const std::string appFolder = paths::folderOf(executable);
    Demo demo;
    std::string settingsFile;
    try {
        if (options->demo) {
            demo.start(appFolder);
            settingsFile = demo.settingsFile();
            report.line("demo: simulated GPS receiver on " + demo.gpsDevice() +
                        "; UDP frames to 127.0.0.1:16000; the PC clock is not changed");
        } else {
            settingsFile = settingsFilePath(appFolder, options->settingsFile);
        }
    } catch (const std::exception& e) {
        return std::fprintf(stderr, "tidewell: %s\n", e.what()), 1;
    }
    // A writer killed mid-write leaves its temporary file beside the settings file.
    files::removeStaleTemporaryFiles(settingsFile);

    IniProfileStore profile;
    XdgAutoRunStore autoRun(XdgAutoRunStore::launchCommand(options->settingsFile));
    LinuxSystemClock realClock;
    DryRunClock dryRun(realClock);
    SystemClock& clock = options->noSetClock ? static_cast<SystemClock&>(dryRun) : realClock;
    const PortMap ports(profile, settingsFile);
    PosixNmeaReceiver nmea(ports, receiverDates());
    PosixSerialPort serial(ports);
    PosixUdpSocket udp;

    // A clock left alone is not fought over.
    LinuxTimeServiceProbe timeServices(QDBusConnection::systemBus());
    Program program({shell, profile, autoRun, clock, executable}, {nmea, serial, udp}, loop, ports,
                    settingsFile, options->noSetClock ? nullptr : &timeServices);
    program.events().add(report);
    FailureBoxes boxes(shell);
    if (windowed) program.events().add(boxes);
    const auto window = windowed ? desktopShell.openWindow(program.window()) : nullptr;
    const auto stopWatch = loop.watchStopSignals([&] { program.stop(); });
    program.start();
    // After start-up's lines, which scripts read first.
    report.line(raiseLoopPriority());
    if (window && options->demo) program.window().trayClicked(TrayButton::Left);
    return QCoreApplication::exec();
}
