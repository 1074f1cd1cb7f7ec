// The program on Linux: parts assembled over Qt's event loop, with the window and tray when
// there is a display, else headless.
#include <QCoreApplication>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/assembly.h"
#include "app/clock_history.h"
#include "app/demo.h"
#include "app/options.h"
#include "app/program.h"
#include "app/status_command.h"
#include "app/qt/event_loop_qt.h"
#include "app/qt/qt_window.h"
#include "app/qt/realtime_linux.h"
#include "app/qt/time_service_linux.h"
#include "app/service_notify.h"
#include "app/single_instance.h"
#include "devices/refclock_socket_posix.h"
#include "platform/paths.h"
#include "platform/system_clock_linux.h"
#include "settings/autorun_xdg_linux.h"
#include "settings/settings_path.h"

using namespace tidewell;

namespace {

struct LinuxParts {
    using Loop = QtEventLoop;
    using DesktopShell = QtShell;
    using AutoRun = XdgAutoRunStore;
    using Clock = LinuxSystemClock;
    using TimeServices = LinuxTimeServiceProbe;
    using Refclock = PosixRefclockSocket;
    // An entry that starts the program with the settings file it was given.
    static AutoRun autoRun(const Options& options) {
        return AutoRun(AutoRun::launchCommand(options.settingsFile));
    }
    static TimeServices timeServices() { return TimeServices(QDBusConnection::systemBus()); }
};

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto options = parseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) return std::fprintf(stderr, "tidewell: %s\n%s", error.c_str(), kUsage), 2;
    if (options->help) return std::fputs(kUsage, stdout), 0;
    if (options->version)
        return std::printf("Tidewell %d.%d.%d\n", TIDEWELL_VERSION_MAJOR, TIDEWELL_VERSION_MINOR,
                           TIDEWELL_VERSION_REVISION),
               0;
    if (options->status) return runStatusCommand(*options, stdout, stderr);
    if (const std::string problem = settingsFileProblem(options->settingsFile); !problem.empty())
        return std::fprintf(stderr, "tidewell: %s\n", problem.c_str()), 2;
    if (options->history || !options->plotFile.empty()) {
        const std::string settingsFile =
            settingsFilePath(paths::folderOf(paths::executablePath()), options->settingsFile);
        return historyCommand(historyFilePath(settingsFile, !options->settingsFile.empty()),
                              options->history, options->plotFile);
    }

    QtEventLoop::takeStopSignals();
    bool windowed =
        !options->headless && (std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY"));
    const auto app = makeApplication(argc, argv, windowed);
    QtEventLoop loop;
    // Before the parts, so the program and its history are done with its folder when it goes.
    Demo demo;
    Assembly<LinuxParts> parts(*options, windowed, loop, STDOUT_FILENO);

    const std::string appFolder = paths::folderOf(paths::executablePath());
    std::string settingsFile;
    try {
        if (options->demo) {
            demo.start(appFolder);
            settingsFile = demo.settingsFile();
            parts.report.line("demo: simulated GPS receiver on " + demo.gpsDevice() +
                              "; UDP frames to 127.0.0.1:16000; the PC clock is not changed");
        } else {
            settingsFile = settingsFilePath(appFolder, options->settingsFile);
        }
    } catch (const std::exception& e) {
        return std::fprintf(stderr, "tidewell: %s\n", e.what()), 1;
    }
    InstanceLock instance(settingsFile);
    if (const auto status = endSecondCopy(instance, windowed, settingsFile)) return *status;
    ServiceNotifier service(loop, [&](const std::string& l) { parts.report.line(l); });
    parts.report.told = [&](const std::string& l) { service.status(l); };
    Program& program = parts.build(settingsFile);
    const auto window = windowed ? parts.desktop.openWindow(program.window()) : nullptr;
    const auto stopWatch = loop.watchStopSignals([&] {
        service.stopping();
        program.stop();
    });
    program.start();
    // After start-up's lines, which scripts read first.
    const std::string priority = raiseLoopPriority();
    parts.report.line(priority);
    instance.recordStatusPlace(parts.serveStatus(priority));
    service.ready();
    if (window && options->demo) program.window().trayClicked(TrayButton::Left);
    const int status = QCoreApplication::exec();
    parts.report.told = nullptr;  // the service is gone before the report
    return status;
}
