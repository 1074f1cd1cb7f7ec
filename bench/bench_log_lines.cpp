// How much a service logs: the headless program with --log events, a healthy 1 Hz nmea-sim
// receiver and UDP frames to 127.0.0.1 once a second, for ten minutes by default; prints the
// lines it wrote and their count.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"

using namespace tidewell::bench;

namespace {

const char* const kUsage =
    "usage: bench_log_lines [--seconds N]\n"
    "Runs the program with --log events, PRECISE=1, a 1 Hz nmea-sim receiver and UDP frames\n"
    "once a second to 127.0.0.1 for N seconds (default 600), the PC clock never set, then\n"
    "stops it and prints every line it wrote, their count and the frames received.\n";

constexpr int kTarget = 15;  // in 600 s

std::vector<std::string> linesOf(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace

int main(int argc, char** argv) {
    int runSeconds = 600;
    for (int i = 1; i < argc; ++i) {
        char* end = nullptr;
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc &&
            (runSeconds = int(std::strtol(argv[++i], &end, 10))) > 0 && *end == '\0')
            continue;
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (!*TIDEWELL_NMEA_SIM) {
        std::fprintf(stderr, "nmea-sim is not built (TIDEWELL_BUILD_TOOLS)\n");
        return 1;
    }
    std::string network;
    if (!claimSyncPort(network)) return 1;
    const int listener = openSyncListener();

    TempDir dir;
    Program simulator(TIDEWELL_NMEA_SIM, {}, dir.file("nmea-sim.log"));
    std::string gpsDevice;
    for (int i = 0; i < 300 && gpsDevice.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const auto lines = linesOf(dir.file("nmea-sim.log"));
        if (!lines.empty()) gpsDevice = lines.front();
    }
    if (gpsDevice.empty()) {
        std::fprintf(stderr, "nmea-sim did not name its pty\n");
        return 1;
    }
    std::string settings = settingsText("", gpsDevice);
    settings.insert(settings.find("[GPS]\n") + 6, "PRECISE=1\n");
    writeFile(dir.file("Tidewell.ini"), settings);

    std::printf("bench_log_lines: --log events, nmea-sim at 1 Hz, UDP once a second, %d s\n",
                runSeconds);
    std::printf("network: %s\n\n", network.c_str());
    std::fflush(stdout);
    const std::string log = dir.file("program.log");
    long long frames = 0;
    {
        Program program(programPath(),
                        {"--headless", "--no-set-clock", "--log", "events", "--settings",
                         dir.file("Tidewell.ini")},
                        log);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(runSeconds);
        std::string frame;
        long long arrival = 0;
        while (std::chrono::steady_clock::now() < end)
            frames += receiveStamped(listener, 200, frame, arrival);
        if (!program.running()) std::printf("the program exited during the run\n");
        program.stop();
    }
    ::close(listener);

    const auto lines = linesOf(log);
    for (const std::string& line : lines) std::printf("  %s\n", line.c_str());
    std::printf("\nlines: %zu in %d s, start and stop included (target <= %d in 600 s%s); "
                "frames received: %lld\n",
                lines.size(), runSeconds, kTarget,
                runSeconds != 600              ? ""
                : int(lines.size()) <= kTarget ? ": met"
                                               : ": MISSED",
                frames);
    return 0;
}
