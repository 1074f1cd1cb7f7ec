// The program on Linux without a window: the parts assembled over the epoll loop, with no Qt
// at all, so a service or a terminal session loads only the C and C++ libraries. `tidewell`
// hands over to it whenever it would run without a window.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/front.h"
#include "app/linux/event_loop_linux.h"
#include "app/linux/run_linux.h"
#include "app/linux/stop_signals_linux.h"
#include "app/linux/time_service_linux.h"
#include "devices/refclock_socket_posix.h"
#include "platform/paths.h"
#include "platform/system_clock_linux.h"
#include "settings/autorun_xdg_linux.h"

using namespace tidewell;

namespace {

// There is no window to show: every part of the shell is the headless one.
class NoDesktop final : public Shell {
public:
    explicit NoDesktop(EventLoop&) {}
    void showWindow(bool) override {}
    void showInTaskbar(bool) override {}
    void addTrayIcon(const TrayIconRecord&) override {}
    void modifyTrayIcon(const TrayIconRecord&) override {}
    void removeTrayIcon(const TrayIconRecord&) override {}
    MsgBoxAnswer messageBox(std::string_view, std::string_view, MsgBoxIcon,
                            MsgBoxButtons) override {
        return MsgBoxAnswer::Ok;
    }
    void quit() override {}
};

struct HeadlessParts {
    using Loop = LinuxEventLoop;
    using DesktopShell = NoDesktop;
    using AutoRun = XdgAutoRunStore;
    using Clock = LinuxSystemClock;
    using TimeServices = LinuxTimeServiceProbe;
    // The log-on entry starts the program with its window, beside this one.
    static AutoRun autoRun(const Options& options) {
        const std::string folder = paths::folderOf(paths::executablePath());
        return AutoRun(
            AutoRun::launchCommand(options.settingsFile, paths::join(folder, "tidewell")));
    }
    static TimeServices timeServices(Loop& loop) { return TimeServices(loop); }
    using Refclock = PosixRefclockSocket;
    static std::nullptr_t openWindow(NoDesktop&, OrvaneSetTime&, bool) { return nullptr; }
};

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto options = parseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (const auto status = answerWithoutRunning(options, error)) return *status;
    try {
        takeStopSignals();
        LinuxEventLoop loop;
        return runOnLinux<HeadlessParts>(*options, false, loop, [&] { return loop.run(); });
    } catch (const std::exception& e) {
        return std::fprintf(stderr, "tidewell: %s\n", e.what()), 1;
    }
}
