// The program in window mode on an Xvfb display of its own with trayer as the system tray:
// time from start to its tray icon, then CPU use and peak memory with the window hidden and
// shown, serial (to a pseudo-terminal nobody reads) and UDP (to 127.0.0.1:16000) once a second.
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"
#include "stats.h"

using namespace tidewell::bench;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kUsage =
    "usage: bench_gui [--seconds N] [--starts N]\n"
    "Starts Xvfb and trayer, then the program in window mode (the PC clock never set) N times\n"
    "(default 5) and prints the median time until its tray icon is shown; then runs it with\n"
    "serial and UDP frames once a second and prints its CPU use over N seconds (default 60)\n"
    "with the window hidden, its peak memory, and its CPU use with the window shown (a click\n"
    "on the tray icon).\n";

// Wine's tray icons are windows of its explorer.exe, not of the program: those docked in
// trayer's panel (xwininfo's tree, a child's line indented deeper than its parent's).
std::vector<std::string> wineTrayIcons() {
    std::istringstream tree(commandOutput("xwininfo -root -tree"));
    std::vector<std::string> ids;
    std::size_t panel = std::string::npos;
    for (std::string line; std::getline(tree, line);) {
        const std::size_t indent = line.find_first_not_of(' ');
        if (indent == std::string::npos) continue;
        if (line.find("(\"panel\" \"trayer\")") != std::string::npos)
            panel = indent;
        else if (panel != std::string::npos && indent <= panel)
            panel = std::string::npos;
        else if (panel != std::string::npos && line.find("\"explorer.exe\"") != std::string::npos)
            ids.push_back(line.substr(indent, line.find(' ', indent) - indent));
    }
    return ids;
}

// The program's mapped windows, the tray icon first to appear (xdotool search ids).
std::vector<std::string> visibleWindows() {
    std::vector<std::string> ids = underWine() ? wineTrayIcons() : std::vector<std::string>{};
    std::istringstream out(commandOutput("xdotool search --onlyvisible --class tidewell"));
    for (std::string id; out >> id;) ids.push_back(id);
    return ids;
}

// Polls until at least `count` windows are mapped; false after five seconds (thirty under
// Wine, whose first start also starts its services).
bool waitForWindows(std::size_t count, std::vector<std::string>& ids) {
    const auto end = Clock::now() + std::chrono::seconds(underWine() ? 30 : 5);
    while ((ids = visibleWindows()).size() < count)
        if (Clock::now() > end) return false;
    return true;
}

struct Cpu {
    double percent = 0, schedPercent = 0;
};

// The program's share of a core over `seconds`, from clock ticks and from schedstat; under
// Wine, with all of its prefix's processes, as bench_idle counts them.
Cpu measure(pid_t pid, int seconds) {
    const std::vector<pid_t> pids = measuredProcesses(pid);
    const long long ticks0 = cpuTicks(pids);
    const Usage u0 = threadUsage(pids);
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const long long ticks1 = cpuTicks(pids);
    const Usage u1 = threadUsage(pids);
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    return {100.0 * double(ticks1 - ticks0) / double(::sysconf(_SC_CLK_TCK)) / wall,
            100.0 * double(u1.nanos - u0.nanos) / 1e9 / wall};
}

// Reads whatever waits on `fd` without blocking; returns the reads that got something.
int drain(int fd) {
    char buffer[4096];
    int reads = 0;
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) && ::read(fd, buffer, sizeof buffer) > 0)
        ++reads;
    return reads;
}

void printLog(const std::string& path) {
    std::fprintf(stderr, "program output:\n%s", commandOutput("cat '" + path + "'").c_str());
}

}  // namespace

int main(int argc, char** argv) {
    int runSeconds = 60, starts = 5;
    for (int i = 1; i < argc; ++i) {
        int* target = std::strcmp(argv[i], "--seconds") == 0  ? &runSeconds
                      : std::strcmp(argv[i], "--starts") == 0 ? &starts
                                                              : nullptr;
        char* end = nullptr;
        if (target && i + 1 < argc && (*target = int(std::strtol(argv[++i], &end, 10))) > 0 &&
            *end == '\0')
            continue;
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::string network;
    if (!claimSyncPort(network)) return 1;
    const int listener = openSyncListener();
    VirtualDisplay display;

    int master = -1, slave = -1;
    char slaveName[256];
    if (::openpty(&master, &slave, slaveName, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    TempDir dir;
    writeFile(dir.file("Tidewell.ini"), settingsText(slaveName));
    const std::string log = dir.file("program.log");
    const std::vector<std::string> args{"--no-set-clock", "--settings", dir.file("Tidewell.ini")};

    std::printf("bench_gui: the program in window mode, serial and UDP frames once per second\n");
    std::printf("display: Xvfb %s, trayer as the system tray\n", display.name().c_str());
    std::printf("network: %s\n", network.c_str());
    std::printf("cpus:    %ld online\n\n", ::sysconf(_SC_NPROCESSORS_ONLN));

    // Under Wine, its server, services and explorer (the tray) first start with the first
    // program and stop a few seconds after the last: a persistent server keeps them, as on a
    // Windows desktop, and the first start is told apart.
    if (underWine()) std::system("wineserver -p");
    const int warmUpSeconds = underWine() ? 10 : 1;
    const double startTarget = underWine() ? 1000 : 300;

    // Start to tray icon, polled with xdotool or xwininfo (each poll a few ms: the figures'
    // resolution).
    std::vector<double> startMs;
    for (int i = 0; i < starts + (underWine() ? 1 : 0); ++i) {
        std::vector<std::string> ids;
        const auto t0 = Clock::now();
        Program program(programPath(), args, log, true);
        if (!waitForWindows(1, ids)) {
            std::fprintf(stderr, "no tray icon\n");
            printLog(log);
            return 1;
        }
        startMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        program.stop();
        while (!visibleWindows().empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (underWine()) {
        std::printf("first start, Wine's services starting too: %.0f ms\n", startMs.front());
        startMs.erase(startMs.begin());
    }
    std::printf("start to tray icon, %d starts (ms):\n", starts);
    printSummary(startMs, "ms");
    std::sort(startMs.begin(), startMs.end());
    const double startMedian = percentile(startMs, 50);
    std::printf("target median <= %g ms: %s\n\n", startTarget,
                startMedian <= startTarget ? "met" : "MISSED");
    std::fflush(stdout);

    drain(listener);
    drain(master);
    std::optional<Program> program(std::in_place, programPath(), args, log, true);
    std::vector<std::string> ids;
    if (!waitForWindows(1, ids)) {
        std::fprintf(stderr, "no tray icon\n");
        printLog(log);
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(warmUpSeconds));
    drain(listener);
    const Cpu hidden = measure(program->pid(), runSeconds);
    const int udpFrames = drain(listener);
    const int serialReads = drain(master);
    const double peakMb = double(memoryKb(measuredProcesses(program->pid()))) / 1024;

    // A left click on the tray icon shows the window.
    const std::string icon = ids.front();
    commandOutput("xdotool mousemove --window " + icon + " 5 5 click 1");
    if (!waitForWindows(2, ids)) {
        std::fprintf(stderr, "the window did not open on a click on the tray icon\n");
        printLog(log);
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const Cpu shown = measure(program->pid(), runSeconds);
    const bool alive = program->running();
    program.reset();

    // Under Wine, the same program and settings headless, counted the same way.
    Cpu headless;
    if (underWine()) {
        std::vector<std::string> headlessArgs = args;
        headlessArgs.insert(headlessArgs.begin(), "--headless");
        program.emplace(programPath(), headlessArgs, log);
        std::this_thread::sleep_for(std::chrono::seconds(warmUpSeconds));
        headless = measure(program->pid(), runSeconds);
        program.reset();
    }
    ::close(slave);
    ::close(master);
    ::close(listener);
    if (!alive) {
        std::fprintf(stderr, "the program exited during the run\n");
        printLog(log);
        return 1;
    }

    std::printf("%d s per case after a %d s warm-up; cpu from clock ticks and (sched) from "
                "schedstat%s\n",
                runSeconds, warmUpSeconds, underWine() ? ", Wine's processes included" : "");
    std::printf("%-8s %8s %9s %8s  %s\n", "window", "cpu %", "(sched)",
                underWine() ? "PSS MB" : "peak MB", "target");
    if (underWine()) {
        const double over = hidden.schedPercent - headless.schedPercent;
        std::printf("%-8s %8.3f %9.4f %8.1f\n", "hidden", hidden.percent, hidden.schedPercent,
                    peakMb);
        std::printf("%-8s %8.3f %9.4f %8s  hidden within 0.1 points of it: %+.4f, %s\n",
                    "headless", headless.percent, headless.schedPercent, "", over,
                    over <= 0.1 ? "met" : "MISSED");
    } else {
        std::printf("%-8s %8.3f %9.4f %8.1f  <= 0.1 %% and <= 30 MB: %s\n", "hidden",
                    hidden.percent, hidden.schedPercent, peakMb,
                    hidden.percent <= 0.1 && hidden.schedPercent <= 0.1 && peakMb <= 30
                        ? "met"
                        : "MISSED");
    }
    std::printf("%-8s %8.3f %9.4f %8s  <= 1 %%: %s\n", "shown", shown.percent, shown.schedPercent,
                "", shown.percent <= 1 && shown.schedPercent <= 1 ? "met" : "MISSED");
    std::printf("while hidden: %d UDP frames, serial written %s\n", udpFrames,
                serialReads ? "(pty had data)" : "NOT SEEN");
    return 0;
}
