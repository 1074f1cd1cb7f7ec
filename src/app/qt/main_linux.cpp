// The program on Linux: parts assembled over Qt's event loop, with the window and tray when
// there is a display; without one it hands over to tidewell-headless, which links no Qt.
#include <QCoreApplication>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/assembly.h"
#include "app/demo.h"
#include "app/linux/realtime_linux.h"
#include "app/linux/time_service_linux.h"
#include "app/options.h"
#include "app/program.h"
#include "app/qt/event_loop_qt.h"
#include "app/qt/qt_window.h"
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
    // An entry that starts the program with the settings file it was given.
    static AutoRun autoRun(const Options& options) {
        return AutoRun(AutoRun::launchCommand(options.settingsFile));
    }
    static TimeServices timeServices(Loop& loop) { return TimeServices(loop); }
};

// The same command line, in this process, to the program beside this one: a service or a
// terminal then holds no Qt libraries in memory.
[[noreturn]] void handOver(char** argv) {
    const std::string headless =
        paths::join(paths::folderOf(paths::executablePath()), "tidewell-headless");
    ::execv(headless.c_str(), argv);
    std::fprintf(stderr, "tidewell: starting %s: %s\n", headless.c_str(), std::strerror(errno));
    std::exit(1);
}

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
    if (const std::string problem = settingsFileProblem(options->settingsFile); !problem.empty())
        return std::fprintf(stderr, "tidewell: %s\n", problem.c_str()), 2;

    bool windowed =
        !options->headless && (std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY"));
    if (!windowed) handOver(argv);
    QtEventLoop::takeStopSignals();
    const auto app = makeApplication(argc, argv, windowed);
    if (!windowed) handOver(argv);
    QtEventLoop loop;
    Assembly<LinuxParts> parts(*options, windowed, loop, STDOUT_FILENO);

    const std::string appFolder = paths::folderOf(paths::executablePath());
    Demo demo;
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
    Program& program = parts.build(settingsFile);
    const auto window = windowed ? parts.desktop.openWindow(program.window()) : nullptr;
    const auto stopWatch = loop.watchStopSignals([&] { program.stop(); });
    program.start();
    // After start-up's lines, which scripts read first.
    parts.report.line(raiseLoopPriority());
    if (window && options->demo) program.window().trayClicked(TrayButton::Left);
    return QCoreApplication::exec();
}
