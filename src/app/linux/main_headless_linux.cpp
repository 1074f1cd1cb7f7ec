// The program on Linux without a window: the parts assembled over the epoll loop, with no Qt
// at all, so a service or a terminal session loads only the C and C++ libraries. `tidewell`
// hands over to it whenever it would run without a window.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/assembly.h"
#include "app/demo.h"
#include "app/linux/event_loop_linux.h"
#include "app/linux/realtime_linux.h"
#include "app/linux/stop_signals_linux.h"
#include "app/linux/time_service_linux.h"
#include "app/options.h"
#include "app/program.h"
#include "platform/paths.h"
#include "platform/system_clock_linux.h"
#include "settings/autorun_xdg_linux.h"
#include "settings/settings_path.h"

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
    if (const std::string problem = settingsFileProblem(options->settingsFile); !problem.empty())
        return std::fprintf(stderr, "tidewell: %s\n", problem.c_str()), 2;

    try {
        takeStopSignals();
        LinuxEventLoop loop;
        Assembly<HeadlessParts> parts(*options, false, loop, STDOUT_FILENO);
        const std::string appFolder = paths::folderOf(paths::executablePath());
        Demo demo;
        std::string settingsFile;
        if (options->demo) {
            demo.start(appFolder);
            settingsFile = demo.settingsFile();
            parts.report.line("demo: simulated GPS receiver on " + demo.gpsDevice() +
                              "; UDP frames to 127.0.0.1:16000; the PC clock is not changed");
        } else {
            settingsFile = settingsFilePath(appFolder, options->settingsFile);
        }
        Program& program = parts.build(settingsFile);
        const auto stopWatch = loop.watchStopSignals([&] { program.stop(); });
        program.start();
        // After start-up's lines, which scripts read first.
        parts.report.line(raiseLoopPriority());
        return loop.run();
    } catch (const std::exception& e) {
        return std::fprintf(stderr, "tidewell: %s\n", e.what()), 1;
    }
}
