// CPU time, wake-ups and memory of the real program with both outputs sending once a second
// (serial to a pseudo-terminal held here, UDP to 127.0.0.1:16000): idle without a GPS port,
// then with nmea-sim as a 1 Hz RMC+GGA receiver, written byte by byte at 4800-baud pace and
// one sentence per write; with --gpsd, Debian's gpsd beside it in the same window, reading a
// simulator of its own alike.
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"

using namespace tidewell::bench;

namespace {

const char* const kUsage =
    "usage: bench_idle [--seconds N] [--receiver none|byte|sentence|all] [--gpsd]\n"
    "Runs the program with serial (to a pseudo-terminal) and UDP (to 127.0.0.1:16000) sync\n"
    "frames once per second, the PC clock never set, and prints its CPU use and wake-ups\n"
    "(voluntary context switches) over N seconds (default 60) after a warm-up (1 s, 10 s\n"
    "under Wine), and its memory. Cases: none, no GPS port; byte, nmea-sim on a pty as the GPS\n"
    "port with RMC+GGA once a second, one byte per write at 4800-baud pace; sentence, the\n"
    "same with one write per sentence. Default: all three, one after the other.\n"
    "  --gpsd   in the receiver cases, also gpsd (Debian's, /usr/sbin/gpsd) in the foreground\n"
    "           on a simulator of its own, read-only, its control socket in the run's folder,\n"
    "           its shared memory in an IPC namespace of its own, measured over the same window\n";

const char* const kGpsd = "/usr/sbin/gpsd";

struct Case {
    const char* name;
    const char* chunk;  // nmea-sim's --chunk; nullptr: no GPS port
    double targetPercent;
    double targetWakeups;  // per second; 0: none
};

const Case kCases[] = {
    {"none", nullptr, 0.1, 0},
    {"byte", "byte", 0.25, 20},
    {"sentence", "sentence", 0.06, 0},
};

constexpr double kTargetMb = 6;

struct Result {
    double wall = 0, cpuPercent = 0, precisePercent = 0, wakeupsPerSecond = 0;
    double hwmMb = 0, rssMb = 0, pssMb = 0;
    long long serialBytes = 0, udpFrames = 0;
    int gpsLines = 0, notSent = 0, processes = 1;
    std::string executable;
};

// CPU, wake-ups and memory of some processes over a window.
class Measurement {
public:
    explicit Measurement(std::vector<pid_t> pids)
        : pids_(std::move(pids)), ticks_(cpuTicks(pids_)), usage_(threadUsage(pids_)),
          start_(std::chrono::steady_clock::now()) {}
    // False when one of them has gone.
    bool finish(Result& r) const {
        const long long ticks = cpuTicks(pids_);
        const Usage usage = threadUsage(pids_);
        r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        const long long hwmKb = memoryKb(pids_);
        r.processes = int(pids_.size());
        r.cpuPercent = 100.0 * double(ticks - ticks_) / double(::sysconf(_SC_CLK_TCK)) / r.wall;
        r.precisePercent = 100.0 * double(usage.nanos - usage_.nanos) / 1e9 / r.wall;
        r.wakeupsPerSecond = double(usage.wakeups - usage_.wakeups) / r.wall;
        r.hwmMb = double(hwmKb) / 1024.0;
        if (pids_.size() == 1) {
            const std::string proc = "/proc/" + std::to_string(pids_[0]);
            r.rssMb = double(statusValue(proc + "/status", "VmRSS")) / 1024.0;
            r.pssMb = double(statusValue(proc + "/smaps_rollup", "Pss")) / 1024.0;
            std::error_code ec;
            r.executable = std::filesystem::read_symlink(proc + "/exe", ec).filename();
        }
        for (pid_t pid : pids_)
            if (cpuTicks(pid) < 0) return false;
        return ticks_ >= 0 && hwmKb >= 0;
    }

private:
    std::vector<pid_t> pids_;
    long long ticks_;
    Usage usage_;
    std::chrono::steady_clock::time_point start_;
};

int countLines(const std::string& path, const std::string& prefix) {
    std::ifstream in(path);
    std::string line;
    int n = 0;
    while (std::getline(in, line)) n += line.rfind(prefix, 0) == 0;
    return n;
}

// The simulator's first line names its pty; empty if none comes within three seconds.
std::string firstLine(const std::string& path) {
    for (int i = 0; i < 300; ++i) {
        std::ifstream in(path);
        std::string line;
        if (std::getline(in, line) && !in.eof()) return line;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
}

// Wine's start takes several seconds and processes.
int warmUpSeconds() {
    return underWine() ? 10 : 1;
}

// A simulator on a pty of its own, as the case asks; its pty's path, or empty after saying why.
std::string startSimulator(const Case& c, const TempDir& dir, const std::string& name,
                           std::optional<Program>& simulator) {
    if (!*TIDEWELL_NMEA_SIM) {
        std::fprintf(stderr, "nmea-sim is not built (TIDEWELL_BUILD_TOOLS)\n");
        return {};
    }
    simulator.emplace(TIDEWELL_NMEA_SIM, std::vector<std::string>{"--chunk", c.chunk},
                      dir.file(name + ".log"));
    std::string device = firstLine(dir.file(name + ".log"));
    if (device.empty()) std::fprintf(stderr, "nmea-sim did not name its pty\n");
    return device;
}

void printLog(const std::string& path) {
    std::ifstream in(path);
    std::fputs(std::string((std::istreambuf_iterator<char>(in)), {}).c_str(), stderr);
}

bool runCase(const Case& c, int runSeconds, int listener, bool withGpsd, Result& r,
             std::optional<Result>& gpsdResult) {
    // The wall clock's end of the serial line. The slave stays open here too, so the line
    // never hangs up between the program's opens.
    int master = -1, slave = -1;
    char slaveName[256];
    if (::openpty(&master, &slave, slaveName, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return false;
    }
    TempDir dir;
    std::optional<Program> simulator, gpsdSimulator, gpsd;
    std::string gpsDevice;
    if (c.chunk && (gpsDevice = startSimulator(c, dir, "nmea-sim", simulator)).empty())
        return false;
    // Read-only (-b): nothing written to the line, no probing. In an IPC namespace of its own,
    // so the time it offers in shared memory reaches no time daemon of this machine.
    if (c.chunk && withGpsd) {
        const std::string device = startSimulator(c, dir, "nmea-sim-gpsd", gpsdSimulator);
        if (device.empty()) return false;
        gpsd.emplace("/usr/bin/unshare",
                     std::vector<std::string>{"--ipc", "--", kGpsd, "-N", "-n", "-b", "-F",
                                              dir.file("gpsd.sock"), device},
                     dir.file("gpsd.log"));
    }
    writeFile(dir.file("Tidewell.ini"), settingsText(slaveName, gpsDevice));
    const std::string log = dir.file("program.log");

    std::atomic<bool> stop{false};
    std::atomic<long long> serialBytes{0}, udpFrames{0};
    std::thread drain([&] {
        pollfd fds[2] = {{master, POLLIN, 0}, {listener, POLLIN, 0}};
        char buffer[4096];
        while (!stop) {
            if (::poll(fds, 2, 100) <= 0) continue;
            if (fds[0].revents & POLLIN) {
                const ssize_t n = ::read(master, buffer, sizeof buffer);
                if (n > 0) serialBytes += n;
            }
            if (fds[1].revents & POLLIN) {
                if (::recv(listener, buffer, sizeof buffer, 0) > 0) ++udpFrames;
            }
        }
    });

    Program program(programPath(),
                    {"--headless", "--no-set-clock", "--settings", dir.file("Tidewell.ini")}, log);

    std::this_thread::sleep_for(std::chrono::seconds(warmUpSeconds()));
    const Measurement measured(measuredProcesses(program.pid()));
    std::optional<Measurement> gpsdMeasured;
    if (gpsd) gpsdMeasured.emplace(std::vector<pid_t>{gpsd->pid()});
    const long long serial0 = serialBytes, udp0 = udpFrames;
    const int gps0 = countLines(log, "gps: ");
    std::this_thread::sleep_for(std::chrono::seconds(runSeconds));
    bool alive = measured.finish(r);
    if (gpsd) {
        if (!gpsdMeasured->finish(gpsdResult.emplace()) || !gpsd->running()) {
            std::fprintf(stderr, "gpsd exited during the run:\n");
            printLog(dir.file("gpsd.log"));
            gpsdResult.reset();
        }
    }
    r.serialBytes = serialBytes - serial0;
    r.udpFrames = udpFrames - udp0;
    r.gpsLines = countLines(log, "gps: ") - gps0;
    alive = alive && program.running();
    program.stop();
    stop = true;
    drain.join();
    ::close(slave);
    ::close(master);

    if (!alive) {
        std::fprintf(stderr, "the program exited during the run:\n");
        printLog(log);
        return false;
    }
    r.notSent = countLines(log, "frame serial not sent") + countLines(log, "frame udp not sent");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int runSeconds = 60;
    std::string which = "all";
    bool withGpsd = false;
    for (int i = 1; i < argc; ++i) {
        char* end = nullptr;
        if (std::strcmp(argv[i], "--gpsd") == 0) {
            withGpsd = true;
            continue;
        }
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc &&
            (runSeconds = int(std::strtol(argv[++i], &end, 10))) > 0 && *end == '\0')
            continue;
        if (std::strcmp(argv[i], "--receiver") == 0 && i + 1 < argc) {
            which = argv[++i];
            if (which == "all" || which == "none" || which == "byte" || which == "sentence")
                continue;
        }
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (withGpsd && (underWine() || ::access(kGpsd, X_OK) != 0)) {
        std::fprintf(stderr, "--gpsd: %s\n",
                     underWine() ? "not beside the program under Wine"
                                 : "no /usr/sbin/gpsd (Debian's gpsd; see README, Performance)");
        return 2;
    }
    std::string network;
    if (!claimSyncPort(network)) return 1;
    const int listener = openSyncListener();

    std::printf("bench_idle: the program with serial and UDP frames once per second\n");
    std::printf("window:  %d s per case after a %d s warm-up; cpu from clock ticks and (sched) "
                "from schedstat; wake-ups are voluntary context switches\n",
                runSeconds, warmUpSeconds());
    std::printf("memory:  peak = VmHWM; rss = VmRSS and pss = Pss (smaps_rollup) at the end\n");
    std::printf("network: %s\n", network.c_str());
    std::printf("program: %s\n\n", underWine() ? "tidewell.exe under Wine, with Wine's processes"
                                               : (programPath() + " --headless").c_str());
    std::printf("%-9s %-18s %7s %8s %10s %7s %6s %6s %9s %13s  %s\n", "receiver", "process",
                "cpu %", "(sched)", "wake-ups/s", "peak MB", "rss MB", "pss MB", "gps lines",
                "serial/udp", "target");
    int status = 0;
    for (const Case& c : kCases) {
        if (which != "all" && which != c.name) continue;
        Result r;
        std::optional<Result> gpsd;
        if (!runCase(c, runSeconds, listener, withGpsd, r, gpsd)) {
            status = 1;
            continue;
        }
        // A receiver case whose sentences were not shown measured nothing useful.
        const bool fed = !c.chunk || r.gpsLines >= runSeconds - 2;
        // Under Wine its own processes count too, and bear the larger bounds.
        const double cpuTarget = underWine() ? 0.5 : c.targetPercent;
        const double mbTarget = underWine() ? 40 : kTargetMb;
        const bool wakeupsMet =
            underWine() || c.targetWakeups == 0 || r.wakeupsPerSecond <= c.targetWakeups;
        const bool met = fed && r.cpuPercent <= cpuTarget && r.precisePercent <= cpuTarget &&
                         wakeupsMet && r.hwmMb <= mbTarget;
        char wakeups[32] = "";
        if (c.targetWakeups > 0 && !underWine())
            std::snprintf(wakeups, sizeof wakeups, ", <= %g wake-ups/s", c.targetWakeups);
        // Wine's processes: their PSS summed stands in the peak's place.
        char rss[16] = "-", pss[16] = "-";
        if (r.processes == 1) {
            std::snprintf(rss, sizeof rss, "%.1f", r.rssMb);
            std::snprintf(pss, sizeof pss, "%.1f", r.pssMb);
        }
        std::printf("%-9s %-18s %7.3f %8.4f %10.1f %7.1f %6s %6s %9d %6lld/%-6lld  <= %g %%%s, "
                    "peak <= %g MB: %s%s\n",
                    c.name, r.executable.empty() ? "tidewell.exe" : r.executable.c_str(),
                    r.cpuPercent, r.precisePercent, r.wakeupsPerSecond, r.hwmMb, rss, pss,
                    r.gpsLines, r.serialBytes / 35, r.udpFrames, cpuTarget, wakeups, mbTarget,
                    met ? "met" : "MISSED", fed ? "" : " (receiver not delivering)");
        if (gpsd)
            std::printf("%-9s %-18s %7.3f %8.4f %10.1f %7.1f %6.1f %6.1f\n", "", "gpsd",
                        gpsd->cpuPercent, gpsd->precisePercent, gpsd->wakeupsPerSecond, gpsd->hwmMb,
                        gpsd->rssMb, gpsd->pssMb);
        if (r.notSent) std::printf("          %d frames not sent\n", r.notSent);
        if (underWine())
            std::printf("          summed over %d Wine processes; memory: their PSS\n",
                        r.processes);
        std::fflush(stdout);
    }
    ::close(listener);
    return status;
}
