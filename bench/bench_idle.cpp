// CPU time and peak memory of the real program while it idles with both outputs sending once
// a second: serial to a pseudo-terminal held here, UDP to 127.0.0.1:16000.
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "harness.h"

using namespace tidewell::bench;

namespace {

const char* const kUsage =
    "usage: bench_idle [--seconds N]\n"
    "Runs the program with serial (to a pseudo-terminal) and UDP (to 127.0.0.1:16000) sync\n"
    "frames once per second and no GPS port, the PC clock never set, and prints its CPU use\n"
    "over N seconds (default 60) after a 1 s warm-up, and its peak resident memory.\n";

// utime + stime in clock ticks, from /proc/<pid>/stat (fields 14 and 15).
long long cpuTicks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    // The command name may hold blanks and parentheses; fields restart after the last ')'.
    const auto close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stoll(field);
        if (i == 15) stime = std::stoll(field);
    }
    return utime + stime;
}

// Nanoseconds on the CPU, summed over the threads alive now (finer than clock ticks).
long long cpuNanos(pid_t pid) {
    long long total = 0;
    std::error_code ec;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream in(task.path() / "schedstat");
        long long ns = 0;
        if (in >> ns) total += ns;
    }
    return total;
}

// A "VmHWM:   1234 kB" style value in kB, or -1.
long statusKb(pid_t pid, const std::string& key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key + ":", 0) == 0)
            return std::strtol(line.c_str() + key.size() + 1, nullptr, 10);
    return -1;
}

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

}  // namespace

int main(int argc, char** argv) {
    int runSeconds = 60;
    for (int i = 1; i < argc; ++i) {
        char* end = nullptr;
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc &&
            (runSeconds = int(std::strtol(argv[++i], &end, 10))) > 0 && *end == '\0')
            continue;
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::string network;
    if (!claimSyncPort(network)) return 1;
    const int listener = openSyncListener();

    // The wall clock's end of the serial line. The slave stays open here too, so the line
    // never hangs up between the program's opens.
    int master = -1, slave = -1;
    char slaveName[256];
    if (::openpty(&master, &slave, slaveName, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }

    TempDir dir;
    writeFile(dir.file("Tidewell.ini"), settingsText(slaveName));
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

    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long long ticks0 = cpuTicks(pid), nanos0 = cpuNanos(pid);
    const long long serial0 = serialBytes, udp0 = udpFrames;
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(runSeconds));
    const long long ticks1 = cpuTicks(pid), nanos1 = cpuNanos(pid);
    const auto t1 = std::chrono::steady_clock::now();
    const long long serial1 = serialBytes, udp1 = udpFrames;
    const long hwmKb = statusKb(pid, "VmHWM"), rssKb = statusKb(pid, "VmRSS");
    const bool alive = program.running();
    program.stop();
    stop = true;
    drain.join();

    if (!alive || ticks0 < 0 || ticks1 < 0 || hwmKb < 0) {
        std::fprintf(stderr, "the program exited during the run; its output is in %s\n",
                     log.c_str());
        return 1;
    }
    const double wall = seconds(t1 - t0);
    const double cpu = double(ticks1 - ticks0) / double(::sysconf(_SC_CLK_TCK));
    const double cpuPercent = 100.0 * cpu / wall;
    const double precisePercent = 100.0 * double(nanos1 - nanos0) / 1e9 / wall;
    const double hwmMb = double(hwmKb) / 1024.0;

    std::printf("bench_idle: the program idling with serial and UDP frames once per second\n");
    std::printf("window:      %.1f s after a 1 s warm-up\n", wall);
    std::printf("network:     %s\n", network.c_str());
    std::printf("cpu time:    %.2f s (utime+stime, %ld ticks/s)\n", cpu, ::sysconf(_SC_CLK_TCK));
    std::printf("cpu:         %.3f %% of one core\n", cpuPercent);
    std::printf("cpu (sched): %.4f %% of one core (schedstat, ns resolution)\n", precisePercent);
    std::printf("peak memory: %.1f MB (VmHWM); now %.1f MB (VmRSS)\n", hwmMb,
                double(rssKb) / 1024.0);
    std::printf("frames seen: serial %lld (%lld bytes), udp %lld\n", (serial1 - serial0) / 35,
                serial1 - serial0, udp1 - udp0);
    std::printf("program lines: %d serial frames, %d udp frames, %d not sent\n",
                countLines(log, "frame serial:"), countLines(log, "frame udp:"),
                countLines(log, "frame serial not sent") + countLines(log, "frame udp not sent"));
    std::printf("target cpu < 0.1 %%: %s; target memory < 20 MB: %s\n",
                precisePercent < 0.1 && cpuPercent < 0.1 ? "met" : "MISSED",
                hwmMb < 20 ? "met" : "MISSED");
    ::close(slave);
    ::close(master);
    ::close(listener);
    return 0;
}
