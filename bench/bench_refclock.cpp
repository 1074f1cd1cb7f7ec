// chrony's view of Tidewell as its reference clock against Tidewell's own precise setting:
// nmea-sim sends each second 150 ms late on this machine's clock (so the truth is a clock
// that is right), one program hands its times to a chronyd of the harness's own (run with -x
// and noselect: it never moves the clock, not even its own idea of it), the other reports how
// far off the clock was at each minute's set (--no-set-clock). The clock is never set.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "harness.h"
#include "private_chronyd.h"
#include "stats.h"

using namespace tidewell;
using namespace std::chrono_literals;

namespace {

constexpr int kDelayMs = 150;

testing::ChildProcess program(const bench::TempDir& dir, const std::string& name,
                              const std::string& gps, const std::string& keys) {
    const std::string settings = dir.file(name + ".ini");
    bench::writeFile(settings, "[UDP]\nUDPADDRESS=127.0.0.1\n[GPS]\nCOMPORT=COM1\nDELAYMS=" +
                                   std::to_string(kDelayMs) + "\n" + keys + "[Ports]\nCOM1=" +
                                   gps + "\n");
    return testing::ChildProcess(TIDEWELL_PROGRAM,
                                 {"--headless", "--no-set-clock", "--settings", settings},
                                 {"HOME=" + dir.path()});
}

// How far ahead of the truth the PC clock was, in ms: chrony's samples and filtered samples
// (one a poll) from its refclocks log, which gives the truth less the PC clock.
void readRefclocksLog(const std::string& file, std::vector<double>& raw,
                      std::vector<double>& filtered) {
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string date, time, refid, dp, leap, pulse, rawOffset, cooked;
        if (!(fields >> date >> time >> refid >> dp >> leap >> pulse >> rawOffset >> cooked) ||
            refid != "GPS")
            continue;
        (dp == "-" ? filtered : raw).push_back(-std::strtod(cooked.c_str(), nullptr) * 1000);
    }
}

struct Figures {
    std::size_t count = 0;
    double median = 0, p95 = 0, deviation = 0;
};

Figures figuresOf(std::vector<double> v) {
    Figures f;
    if ((f.count = v.size()) == 0) return f;
    std::sort(v.begin(), v.end());
    f.median = bench::percentile(v, 50);
    double mean = 0, squares = 0;
    for (double x : v) mean += x / double(v.size());
    for (double x : v) squares += (x - mean) * (x - mean);
    f.deviation = v.size() > 1 ? std::sqrt(squares / double(v.size() - 1)) : 0;
    for (double& x : v) x = std::abs(x);
    std::sort(v.begin(), v.end());
    f.p95 = bench::percentile(v, 95);
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    long minutes = 10;
    for (int i = 1; i < argc; ++i) {
        char* end = nullptr;
        if (std::string(argv[i]) == "--minutes" && i + 1 < argc &&
            (minutes = std::strtol(argv[++i], &end, 10)) > 0 && *end == '\0')
            continue;
        std::fputs("usage: bench_refclock [--minutes N]   (default 10)\n", stderr);
        return 2;
    }
    if (testing::chronyProgram("chronyd").empty()) {
        std::fputs("bench_refclock: no chronyd (scripts/deps.sh unpacks Debian's into "
                   "build-deps/chrony)\n",
                   stderr);
        return 1;
    }
    bench::TempDir dir;
    // Debian's refclock line as the example configuration has it, but noselect.
    testing::PrivateChronyd chronyd(dir.path(), "refid GPS poll 4 delay 0.2 noselect");
    testing::ChildProcess simA(TIDEWELL_NMEA_SIM, {"--delay", std::to_string(kDelayMs)});
    testing::ChildProcess simB(TIDEWELL_NMEA_SIM, {"--delay", std::to_string(kDelayMs)});
    auto handing = program(dir, "refclock", simA.line(0, 3000),
                           "REFCLOCK=SOCK:" + chronyd.refclockSocket() + "\n");
    auto setting = program(dir, "precise", simB.line(0, 3000), "PRECISE=1\n");
    std::fprintf(stderr, "bench_refclock: %ld min...\n", minutes);
    std::vector<double> estimates;  // chronyc sourcestats, once a poll
    for (const auto end = testing::Clock::now() + std::chrono::minutes(minutes);
         testing::Clock::now() < end;) {
        std::this_thread::sleep_for(16s);
        handing.pump(), setting.pump();
        if (const auto e = chronyd.offsetEstimate(2)) estimates.push_back(*e * 1000);
    }
    handing.pump(), setting.pump();
    std::vector<double> raw, filtered, was;
    readRefclocksLog(dir.path() + "/chrony/refclocks.log", raw, filtered);
    for (const std::string& l : setting.lines())
        if (const auto at = l.find("(was "); at != std::string::npos)
            was.push_back(std::strtod(l.c_str() + at + 5, nullptr) * 1000);

    std::printf("bench_refclock: %ld min, nmea-sim --delay %d, DELAYMS=%d; how far the PC clock "
                "was ahead of the truth (0), ms\n",
                minutes, kDelayMs, kDelayMs);
    std::printf("%-44s %6s %9s %9s %9s\n", "", "count", "median", "p95 |x|", "std dev");
    const auto row = [](const char* what, const std::vector<double>& v) {
        const Figures f = figuresOf(v);
        std::printf("%-44s %6zu %9.3f %9.3f %9.3f\n", what, f.count, f.median, f.p95, f.deviation);
    };
    row("chrony: sourcestats offset (each 16 s)", estimates);
    row("chrony: filtered samples (one per poll)", filtered);
    row("chrony: raw samples from Tidewell (1/s)", raw);
    row("Tidewell PRECISE=1: `was` (1/min)", was);
    return 0;
}
