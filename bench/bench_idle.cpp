// CPU time, wake-ups and peak memory of the real program with both outputs sending once a
// second (serial to a pseudo-terminal held here, UDP to 127.0.0.1:16000): idle without a GPS
// port, then with nmea-sim as a 1 Hz RMC+GGA receiver, written byte by byte at 4800-baud pace
// and one sentence per write.
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
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"

using namespace tidewell::bench;

namespace {

const char* const kUsage =
    "usage: bench_idle [--seconds N] [--receiver none|byte|sentence|all]\n"
    "Runs the program with serial (to a pseudo-terminal) and UDP (to 127.0.0.1:16000) sync\n"
    "frames once per second, the PC clock never set, and prints its CPU use and wake-ups\n"
    "(voluntary context switches) over N seconds (default 60) after a warm-up (1 s, 10 s under Wine), and its\n"
    "peak resident memory. Cases: none, no GPS port; byte, nmea-sim on a pty as the GPS port\n"
    "with RMC+GGA once a second, one byte per write at 4800-baud pace; sentence, the same\n"
    "with one write per sentence. Default: all three, one after the other.\n";

struct Case {
    const char* name;
    const char* chunk;  // nmea-sim's --chunk; nullptr: no GPS port
    double targetPercent;
};

const Case kCases[] = {
    {"none", nullptr, 0.1},
    {"byte", "byte", 0.2},
    {"sentence", "sentence", 0.2},
};

struct Result {
    double wall = 0, cpuPercent = 0, precisePercent = 0, wakeupsPerSecond = 0, hwmMb = 0;
    long long serialBytes = 0, udpFrames = 0;
    int gpsLines = 0, notSent = 0, processes = 1;
};

double seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

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

bool runCase(const Case& c, int runSeconds, int listener, Result& r) {
    // The wall clock's end of the serial line. The slave stays open here too, so the line
    // never hangs up between the program's opens.
    int master = -1, slave = -1;
    char slaveName[256];
    if (::openpty(&master, &slave, slaveName, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return false;
    }
    TempDir dir;
    std::optional<Program> simulator;
    std::string gpsDevice;
    if (c.chunk) {
        if (!*TIDEWELL_NMEA_SIM) {
            std::fprintf(stderr, "nmea-sim is not built (TIDEWELL_BUILD_TOOLS)\n");
            return false;
        }
        simulator.emplace(TIDEWELL_NMEA_SIM, std::vector<std::string>{"--chunk", c.chunk},
                          dir.file("nmea-sim.log"));
        if ((gpsDevice = firstLine(dir.file("nmea-sim.log"))).empty()) {
            std::fprintf(stderr, "nmea-sim did not name its pty\n");
            return false;
        }
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
    const pid_t pid = program.pid();

    std::this_thread::sleep_for(std::chrono::seconds(warmUpSeconds()));
    const std::vector<pid_t> measured = measuredProcesses(pid);
    const long long ticks0 = cpuTicks(measured), serial0 = serialBytes, udp0 = udpFrames;
    const Usage usage0 = threadUsage(measured);
    const int gps0 = countLines(log, "gps: ");
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(runSeconds));
    const long long ticks1 = cpuTicks(measured);
    const Usage usage1 = threadUsage(measured);
    const auto t1 = std::chrono::steady_clock::now();
    r.serialBytes = serialBytes - serial0;
    r.udpFrames = udpFrames - udp0;
    r.gpsLines = countLines(log, "gps: ") - gps0;
    const long long hwmKb = memoryKb(measured);
    r.processes = int(measured.size());
    const bool alive = program.running();
    program.stop();
    stop = true;
    drain.join();
    ::close(slave);
    ::close(master);

    if (!alive || ticks0 < 0 || ticks1 < 0 || hwmKb < 0) {
        std::fprintf(stderr, "the program exited during the run:\n");
        std::ifstream in(log);
        std::fputs(std::string((std::istreambuf_iterator<char>(in)), {}).c_str(), stderr);
        return false;
    }
    r.wall = seconds(t1 - t0);
    r.cpuPercent = 100.0 * double(ticks1 - ticks0) / double(::sysconf(_SC_CLK_TCK)) / r.wall;
    r.precisePercent = 100.0 * double(usage1.nanos - usage0.nanos) / 1e9 / r.wall;
    r.wakeupsPerSecond = double(usage1.wakeups - usage0.wakeups) / r.wall;
    r.hwmMb = double(hwmKb) / 1024.0;
    r.notSent = countLines(log, "frame serial not sent") + countLines(log, "frame udp not sent");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int runSeconds = 60;
    std::string which = "all";
    for (int i = 1; i < argc; ++i) {
        char* end = nullptr;
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
    std::string network;
    if (!claimSyncPort(network)) return 1;
    const int listener = openSyncListener();

    std::printf("bench_idle: the program with serial and UDP frames once per second\n");
    std::printf("window:  %d s per case after a %d s warm-up; cpu from clock ticks and (sched) "
                "from schedstat; wake-ups are voluntary context switches\n",
                runSeconds, warmUpSeconds());
    std::printf("network: %s\n", network.c_str());
    std::printf("program: %s\n\n", underWine() ? "tidewell.exe under Wine, with Wine's processes"
                                                : programPath().c_str());
    std::printf("%-9s %8s %9s %11s %8s %10s %14s  %s\n", "receiver", "cpu %", "(sched)",
                "wake-ups/s", "peak MB", "gps lines", "serial/udp", "target");
    int status = 0;
    for (const Case& c : kCases) {
        if (which != "all" && which != c.name) continue;
        Result r;
        if (!runCase(c, runSeconds, listener, r)) {
            status = 1;
            continue;
        }
        // A receiver case whose sentences were not shown measured nothing useful.
        const bool fed = !c.chunk || r.gpsLines >= runSeconds - 2;
        // Under Wine its own processes count too, and bear the larger bounds.
        const double cpuTarget = underWine() ? 0.5 : c.targetPercent;
        const double mbTarget = underWine() ? 40 : 20;
        const bool met = fed && r.cpuPercent <= cpuTarget && r.precisePercent <= cpuTarget &&
                         r.hwmMb < mbTarget;
        std::printf(
            "%-9s %8.3f %9.4f %11.1f %8.1f %10d %7lld/%-6lld  <= %.1f %% and < %g MB: %s%s\n",
            c.name, r.cpuPercent, r.precisePercent, r.wakeupsPerSecond, r.hwmMb, r.gpsLines,
            r.serialBytes / 35, r.udpFrames, cpuTarget, mbTarget, met ? "met" : "MISSED",
            fed ? "" : " (receiver not delivering)");
        if (r.notSent) std::printf("          %d frames not sent\n", r.notSent);
        if (underWine())
            std::printf("          summed over %d Wine processes; memory: their PSS\n",
                        r.processes);
        std::fflush(stdout);
    }
    ::close(listener);
    return status;
}
