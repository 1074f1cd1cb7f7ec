// The program on Linux with a window: parts assembled over Qt's event loop, the window and its
// tray icon. Without a display it hands over to tidewell-headless, which links no Qt.
#include <QCoreApplication>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/front.h"
#include "app/linux/run_linux.h"
#include "app/linux/time_service_linux.h"
#include "app/qt/event_loop_qt.h"
#include "app/qt/qt_window.h"
#include "devices/refclock_socket_posix.h"
#include "platform/paths.h"
#include "platform/system_clock_linux.h"
#include "settings/autorun_xdg_linux.h"

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
    static TimeServices timeServices(Loop& loop) { return TimeServices(loop); }
    static std::unique_ptr<QtWindowView> openWindow(QtShell& desktop, OrvaneSetTime& model,
                                                    bool windowed) {
        return windowed ? desktop.openWindow(model) : nullptr;
    }
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
    if (const auto status = answerWithoutRunning(options, error)) return *status;

    bool windowed =
        !options->headless && (std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY"));
    if (!windowed) handOver(argv);
    QtEventLoop::takeStopSignals();
    const auto app = makeApplication(argc, argv, windowed);
    if (!windowed) handOver(argv);  // a display named, but none could be opened
    QtEventLoop loop;
    return runOnLinux<LinuxParts>(*options, windowed, loop, [] { return QCoreApplication::exec(); });
}
