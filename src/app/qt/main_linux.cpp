// The program on Linux: the window model driven by Qt's event loop, headless for now.
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>

#include "app/lost_ports_posix.h"
#include "app/options.h"
#include "app/orvane_set_time.h"
#include "app/qt/demo.h"
#include "app/qt/headless.h"
#include "app/qt/phase_locked_ticker.h"
#include "devices/nmea_decode.h"
#include "devices/nmea_receiver_posix.h"
#include "devices/port_names.h"
#include "devices/serial_port_posix.h"
#include "devices/udp_socket_posix.h"
#include "platform/dry_run_clock.h"
#include "platform/system_clock_linux.h"
#include "settings/autorun_xdg.h"
#include "settings/file_ops.h"
#include "settings/ini_profile.h"
#include "settings/settings_path.h"

using namespace tidewell;

namespace {

// A receiver that reports the week-number rollover's dates would set the PC back by about
// twenty years: nothing before this build's own date is valid time.
CivilDate buildDate() {
    if (auto date = calendar::parseCompilerDate(__DATE__)) return *date;
    return CivilDate{2026, 1, 1};
}

// Blocks the stop signals and hands them to the event loop instead.
int stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, s);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    return ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto options = parseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "tidewell: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    if (options->help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options->version) {
        std::printf("Tidewell %d.%d.%d\n", TIDEWELL_VERSION_MAJOR, TIDEWELL_VERSION_MINOR,
                    TIDEWELL_VERSION_REVISION);
        return 0;
    }
    if (const std::string problem = settingsFileProblem(options->settingsFile); !problem.empty()) {
        std::fprintf(stderr, "tidewell: %s\n", problem.c_str());
        return 2;
    }

    const int stopFd = stopSignals();
    // A reader that goes away (`| head -1`) costs the report, not the program.
    ::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    ReportOutput output(STDOUT_FILENO);
    HeadlessReport report(output, options->noSetClock);
    HeadlessShell shell(report);

    Demo demo;
    std::string settingsFile;
    try {
        if (options->demo) {
            demo.start(shell.AppPath());
            report.line("demo: simulated GPS receiver on " + demo.gpsDevice() +
                        "; UDP frames to 127.0.0.1:16000; the PC clock is not changed");
            settingsFile = demo.settingsFile();
        } else {
            settingsFile = settingsFilePath(shell.AppPath(), options->settingsFile);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tidewell: %s\n", e.what());
        return 1;
    }

    // A writer killed mid-write leaves its temporary file beside the settings file.
    files::removeStaleTemporaryFiles(settingsFile);
    IniProfileStore profile;
    XdgAutoRunStore autorun(XdgAutoRunStore::launchCommand(options->settingsFile));
    LinuxSystemClock realClock;
    DryRunClock dryRun(realClock);
    SystemClock& clock = options->noSetClock ? static_cast<SystemClock&>(dryRun) : realClock;

    // COMn names a device through the "Ports" section, read afresh at every open.
    auto devicePath = [&](int port) {
        std::map<int, std::string> overrides;
        const std::string name = "COM" + std::to_string(port);
        if (std::string path = profile.getString("Ports", name, "", 750, settingsFile);
            !path.empty())
            overrides[port] = path;
        return devicePathFor(port, overrides);
    };
    PosixNmeaReceiver nmea(devicePath, gpsDateWindow(buildDate()));
    PosixSerialPort serial(devicePath);
    PosixUdpSocket udp;

    OrvaneSetTime window({shell, profile, autorun, clock}, {nmea, serial, udp}, settingsFile);
    window.events = &report;
    window.reportClockRefusalInMessageBox = false;

    std::unique_ptr<QSocketNotifier> gpsWatch;
    auto watchGps = [&] {
        if (gpsWatch) {
            // Never delete a notifier inside its own signal.
            gpsWatch->setEnabled(false);
            gpsWatch.release()->deleteLater();
        }
        if (nmea.readFd() < 0) return;
        gpsWatch = std::make_unique<QSocketNotifier>(nmea.readFd(), QSocketNotifier::Read);
        QObject::connect(gpsWatch.get(), &QSocketNotifier::activated,
                         [&] { nmea.handleReadable(); });
    };
    bool started = false;
    int gpsOpenSeconds = 0;
    nmea.PortStateChanged = [&] {
        gpsOpenSeconds = 0;
        watchGps();
        if (started)
            report.line(std::string("gps port: ") + window.Combo1.Text() +
                        (nmea.isOpen() ? " open" : " closed"));
    };

    window.Form_Load();
    started = true;
    report.restored(window, nmea.PortNumber > 0 ? devicePath(nmea.PortNumber) : "",
                    window.Check2.Value() == 1 ? devicePath(serial.CommPort) : "");

    auto reopenLostPorts = [&] {
        if (tidewell::reopenLostPorts(window, nmea, serial))
            report.line("serial sync: " + window.Combo2.Text() + " open again");
    };

    // Locked to the clock, only the broadcast tick at each second boundary can see a new
    // second; its nine other ticks would only cost wake-ups, so it ticks once a second. The
    // display timer keeps its 100 ms, and exists only while it is enabled (window shown).
    PhaseLockedTicker broadcastTicker(1000);
    constexpr int kReopenEverySeconds = 5;
    int seconds = 0;
    broadcastTicker.onTick = [&] {
        window.SendUDP.tick();
        if (++seconds % kReopenEverySeconds == 0) reopenLostPorts();
        // Rejected sentences show nothing else, and a receiver without a fix looks like a
        // program that has stopped.
        constexpr int kReceptionReportSeconds = 60;
        if (nmea.isOpen() && ++gpsOpenSeconds % kReceptionReportSeconds == 0)
            if (const std::string why = noTimeReport(nmea.takeTally(), kReceptionReportSeconds);
                !why.empty())
                report.line("gps: " + why);
    };
    std::unique_ptr<PhaseLockedTicker> displayTicker;
    auto followDisplayTimer = [&](const Timer& timer) {
        if (!timer.Enabled()) {
            displayTicker.reset();
        } else if (!displayTicker) {
            displayTicker = std::make_unique<PhaseLockedTicker>(timer.Interval());
            displayTicker->onTick = [&] { window.Timer1.tick(); };
            window.Timer1.tick();  // refreshed at once, not one interval later
        }
    };
    window.Timer1.viewUpdate = followDisplayTimer;
    followDisplayTimer(window.Timer1);

    QSocketNotifier stopWatch(stopFd, QSocketNotifier::Read);
    QObject::connect(&stopWatch, &QSocketNotifier::activated, [&] {
        signalfd_siginfo info{};
        [[maybe_unused]] auto n = ::read(stopFd, &info, sizeof info);
        report.line("stopping");
        window.Form_Unload();
        QCoreApplication::quit();
    });

    const int status = QCoreApplication::exec();
    gpsWatch.reset();
    return status;
}
