// How long after the PC clock's second boundary each sync frame reaches a listener on
// 127.0.0.1:16000, measured against the real program.
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"
#include "stats.h"

using namespace tidewell::bench;

namespace {

const char* const kUsage =
    "usage: bench_frame_lag [--frames N] [--load] [--window] [--status-load]\n"
    "Runs the program with UDP frames once per second to 127.0.0.1:16000 (the PC clock is\n"
    "never set) and prints how long after the start of its second each frame arrived.\n"
    "  --frames N   frames to measure (default 60), after one discarded start-up frame\n"
    "  --load       two busy-loop threads run meanwhile, one per core of a 2-core machine\n"
    "  --window     the program in window mode, its icon in a tray on an Xvfb display of\n"
    "               its own\n"
    "  --status-load  10 status requests a second on the program's status socket meanwhile\n"
    "               (not under Wine)\n";

struct Options {
    int frames = 60;
    bool load = false;
    bool window = false;
    bool statusLoad = false;
};

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--load") {
            o.load = true;
        } else if (arg == "--window") {
            o.window = true;
        } else if (arg == "--status-load") {
            o.statusLoad = true;
        } else if (arg == "--frames" && i + 1 < argc) {
            char* end = nullptr;
            const long n = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || n < 1 || n > 100000) return false;
            o.frames = int(n);
        } else {
            return false;
        }
    }
    return true;
}

// The seconds field of a well-formed frame ("*ss..."), or -1.
int frameSecond(const std::string& frame) {
    if (frame.size() != 35 || frame[0] != '*' || frame[1] < '0' || frame[1] > '5' ||
        frame[2] < '0' || frame[2] > '9')
        return -1;
    return (frame[1] - '0') * 10 + (frame[2] - '0');
}

int localSecond(time_t t) {
    tm local{};
    ::localtime_r(&t, &local);
    return local.tm_sec;
}

// One status request on the socket at `path`; true when the program answered it.
bool askStatus(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, "status\n", 7, MSG_NOSIGNAL) == 7) {
        char buffer[4096];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) answer.append(buffer, std::size_t(n));
    }
    ::close(fd);
    return answer.starts_with("tidewell: ");
}

void printLog(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::fprintf(stderr, "program output:\n");
    while (std::getline(in, line)) std::fprintf(stderr, "  %s\n", line.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::string network;
    if (!claimSyncPort(network)) return 1;
    const int listener = openSyncListener();

    std::optional<VirtualDisplay> display;
    if (o.window) display.emplace();

    TempDir dir;
    writeFile(dir.file("Tidewell.ini"), settingsText(""));
    const std::string log = dir.file("program.log");
    if (o.statusLoad && underWine()) {
        std::fputs("--status-load: not under Wine (the pipe is Windows'); use the Linux program\n", stderr);
        return 2;
    }
    std::vector<std::string> args{"--no-set-clock", "--settings", dir.file("Tidewell.ini"),
                                  "--status-socket", dir.file("status")};
    if (underWine()) args.resize(3);
    if (!o.window) args.insert(args.begin(), "--headless");
    Program program(programPath(), args, log, o.window);

    std::atomic<bool> stopLoad{false};
    std::vector<std::thread> load;
    if (o.load)
        for (int i = 0; i < 2; ++i)
            load.emplace_back([&] {
                while (!stopLoad.load(std::memory_order_relaxed)) {
                }
            });

    std::atomic<int> answered{0}, unanswered{0};
    std::thread statusLoad;
    if (o.statusLoad)
        statusLoad = std::thread([&] {
            while (!stopLoad.load()) {
                (askStatus(dir.file("status")) ? answered : unanswered)++;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });

    std::vector<double> lagsMs;
    std::set<long long> sendSeconds;
    int skipped = 0, malformed = 0, lateSecond = 0, repeats = 0;
    std::string frame;
    long long arrivalNs = 0;
    while (int(lagsMs.size()) < o.frames) {
        // Wine starts its services first, which takes seconds.
        const int waitMs = underWine() && lagsMs.empty() ? 15000 : 3000;
        if (!receiveStamped(listener, waitMs, frame, arrivalNs)) {
            std::fprintf(stderr, "no frame for %d s (%s)\n", waitMs / 1000,
                         program.running() ? "the program is running" : "the program has exited");
            printLog(log);
            if (network.rfind("private", 0) != 0)
                std::fprintf(stderr,
                             "(another listener on 127.0.0.1:%d takes frames meant for us)\n",
                             kSyncPort);
            return 1;
        }
        // The first tick comes at any point of a second: not a boundary.
        if (skipped++ == 0) continue;
        const int field = frameSecond(frame);
        if (field < 0) {
            ++malformed;
            continue;
        }
        // The frame's second: the latest second boundary at or before arrival whose local
        // seconds agree with the frame's.
        const time_t arrivalSecond = time_t(arrivalNs / 1'000'000'000LL);
        time_t sent = arrivalSecond;
        while (localSecond(sent) != field && arrivalSecond - sent < 60) --sent;
        if (sent != arrivalSecond) ++lateSecond;
        if (!sendSeconds.insert(sent).second) ++repeats;
        lagsMs.push_back(double(arrivalNs - sent * 1'000'000'000LL) / 1e6);
    }
    stopLoad = true;
    for (auto& t : load) t.join();
    if (statusLoad.joinable()) statusLoad.join();
    program.stop();
    ::close(listener);

    std::printf("bench_frame_lag: UDP frame arrival after the start of its second\n");
    std::printf("load:   %s\n", o.load ? "2 busy-loop threads" : "none");
    if (o.statusLoad)
        std::printf("status: 10 requests a second; %d answered, %d not\n", answered.load(),
                    unanswered.load());
    std::printf("mode:   %s%s\n",
                o.window ? ("window, tray on Xvfb " + display->name()).c_str() : "headless",
                underWine() ? ", tidewell.exe under Wine" : "");
    std::printf("cpus:   %ld online\n", ::sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("network: %s\n", network.c_str());
    printSummary(lagsMs, "ms");
    std::printf("over 1 ms: %ld; over 5 ms: %ld\n",
                long(std::count_if(lagsMs.begin(), lagsMs.end(), [](double v) { return v > 1; })),
                long(std::count_if(lagsMs.begin(), lagsMs.end(), [](double v) { return v > 5; })));
    std::printf("frames arriving after their own second ended: %d\n", lateSecond);
    if (malformed) std::printf("malformed frames ignored: %d\n", malformed);
    if (repeats)
        std::printf("WARNING: %d seconds had more than one frame; another sender on port %d?\n",
                    repeats, kSyncPort);
    std::sort(lagsMs.begin(), lagsMs.end());
    const double median = percentile(lagsMs, 50), p99 = percentile(lagsMs, 99);
    // Wine's timers and sockets pass through its server: twice the native bounds.
    const double medianTarget = underWine() ? 2 : 1, p99Target = underWine() ? 10 : 5;
    std::printf("target median < %g ms: %s; target p99 < %g ms: %s\n", medianTarget,
                median < medianTarget ? "met" : "MISSED", p99Target,
                p99 < p99Target ? "met" : "MISSED");
    return 0;
}
