// The program on Linux: parts assembled over Qt's event loop, with the window and tray when
// there is a display, else headless.
#include <QApplication>
#include <QGuiApplication>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/demo.h"
#include "app/headless.h"
#include "app/options.h"
#include "app/program.h"
#include "app/qt/event_loop_qt.h"
#include "app/qt/qt_window.h"
#include "devices/nmea_receiver_posix.h"
#include "devices/serial_port_posix.h"
#include "devices/udp_socket_posix.h"
#include "platform/dry_run_clock.h"
#include "platform/paths.h"
#include "platform/system_clock_linux.h"
#include "settings/autorun_xdg.h"
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

    // The stop signals come through the loop; a reader that goes away (`| head -1`) costs the
    // report, not the program.
    sigset_t stopSet;
    sigemptyset(&stopSet);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stopSet, s);
    sigprocmask(SIG_BLOCK, &stopSet, nullptr);
    const int stopFd = ::signalfd(-1, &stopSet, SFD_NONBLOCK | SFD_CLOEXEC);
    ::signal(SIGPIPE, SIG_IGN);

    bool windowed =
        !options->headless && (std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY"));
    // A display named but out of reach (an ssh session's stale DISPLAY) would make Qt abort:
    // offscreen is tried last, and the program then runs headless.
    const bool fallback = windowed && !std::getenv("QT_QPA_PLATFORM");
    if (fallback) ::setenv("QT_QPA_PLATFORM", "xcb;wayland;offscreen", 1);
    const auto app = windowed ? std::make_unique<QApplication>(argc, argv)
                              : std::make_unique<QCoreApplication>(argc, argv);
    if (fallback) {
        ::unsetenv("QT_QPA_PLATFORM");  // not for the demo's simulator or anything it starts
        if (QGuiApplication::platformName() == "offscreen") {
            std::fputs("tidewell: no display could be opened; running without a window\n", stderr);
            windowed = false;
        }
    }
    QtEventLoop loop;
    // The report goes on beside a window: one line per event, for logs and scripts.
    ReportOutput output(STDOUT_FILENO, loop);
    HeadlessReport report(output, loop, options->noSetClock);
    HeadlessShell headlessShell(report, loop);
    QtShell desktopShell(loop);
    Shell& shell = windowed ? static_cast<Shell&>(desktopShell) : headlessShell;

    const std::string appFolder = paths::folderOf(shell.executablePath());
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

    Program program({shell, profile, autoRun, clock}, {nmea, serial, udp}, loop, ports,
                    settingsFile, report);
    program.window().reportClockRefusalInMessageBox = windowed;
    const auto window = windowed ? desktopShell.openWindow(program.window()) : nullptr;
    const auto stopWatch = loop.watchReadable(stopFd, [&] {
        signalfd_siginfo info{};
        [[maybe_unused]] auto n = ::read(stopFd, &info, sizeof info);
        program.stop();
    });
    program.start();
    if (window && options->demo) program.window().trayClicked(TrayButton::Left);
    return QCoreApplication::exec();
}
