// The program hands its GPS times to chrony: a real chronyd of the test's own (never able to
// set the clock) takes them from nmea-sim's receiver and finds the truth; and no time from a
// backlog or outside the receiver's dates reaches chrony's socket.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>

#include <cmath>
#include <cstring>
#include <set>

#include "nmea_logs.h"
#include "private_chronyd.h"

namespace tidewell {
namespace {

using testing::ChildProcess;
using testing::Clock;
using namespace std::chrono_literals;

const std::string kProgram = TIDEWELL_BINARY_DIR "/tidewell";
const std::string kSim = TIDEWELL_BINARY_DIR "/tools/nmea-sim";

// The program, headless and --no-set-clock, handing times from `gpsDevice` to `socket`.
ChildProcess startProgram(const std::filesystem::path& dir, const std::string& gpsDevice,
                          const std::string& socket, const std::string& more = "") {
    const std::string settings = (dir / "Tidewell.ini").string();
    std::ofstream(settings) << "[UDP]\nUDPADDRESS=127.0.0.1\n[GPS]\nCOMPORT=COM1\nREFCLOCK=SOCK:"
                            << socket << "\n"
                            << more << "[Ports]\nCOM1=" << gpsDevice << "\n";
    return ChildProcess(kProgram, {"--headless", "--no-set-clock", "--settings", settings},
                        {"HOME=" + dir.string(), "XDG_CONFIG_HOME=" + (dir / "config").string()});
}

bool hasLine(ChildProcess& program, const std::string& prefix, std::chrono::milliseconds wait) {
    const auto deadline = Clock::now() + wait;
    do {
        ::usleep(20'000);
        program.pump();
        for (const std::string& l : program.lines())
            if (l.starts_with(prefix)) return true;
    } while (Clock::now() < deadline);
    return false;
}

// nmea-sim's receiver sends each second 150 ms late, on this machine's own clock, so the
// truth is that the clock is right.
struct ChronyRun {
    testing::TempFolder dir;
    testing::PrivateChronyd chronyd;
    ChildProcess sim{kSim, {"--delay", "150"}};
    ChildProcess program;

    explicit ChronyRun(const std::string& delayKey)
        : chronyd(dir.root, "refid GPS poll 3 filter 8 noselect"),
          program(startProgram(dir.root, sim.line(0, 3000), chronyd.refclockSocket(), delayKey)) {}
};

TEST(Chrony, TakesTheSamplesAndFindsTheClockRightWhenTheDelayIsGiven) {
    if (testing::chronyProgram("chronyd").empty() || testing::chronyProgram("chronyc").empty())
        GTEST_SKIP() << "no chronyd: scripts/deps.sh unpacks Debian's into build-deps/chrony";
    ChronyRun calibrated("DELAYMS=150\n"), uncalibrated("");
    std::optional<double> right, late;
    for (const auto deadline = Clock::now() + 100s; Clock::now() < deadline;) {
        if (const auto e = calibrated.chronyd.offsetEstimate(3)) right = e;
        if (const auto e = uncalibrated.chronyd.offsetEstimate(3)) late = e;
        if (right && std::abs(*right) < 0.005 && late && std::abs(*late - 0.150) < 0.02) break;
        std::this_thread::sleep_for(2s);
    }
    ASSERT_TRUE(right && late) << calibrated.chronyd.chronyc("sources");
    EXPECT_LT(std::abs(*right), 0.005) << "DELAYMS=150";
    // Without DELAYMS the second seems to begin when its first byte comes: the PC clock looks
    // that much ahead (chrony counts a PC clock ahead as positive).
    EXPECT_NEAR(*late, 0.150, 0.02);

    for (ChronyRun* run : {&calibrated, &uncalibrated}) {
        EXPECT_NE(run->chronyd.said().find("Disabled control of system clock"), std::string::npos)
            << run->chronyd.said();
        if (::geteuid() == 0) {
            std::ifstream status("/proc/" + std::to_string(run->chronyd.pid()) + "/status");
            std::string line;
            while (std::getline(status, line) && !line.starts_with("CapEff:")) continue;
            EXPECT_EQ(line, "CapEff:\t0000000000000000") << "chronyd may change nothing";
        }
        EXPECT_TRUE(hasLine(run->program, "clock: handed to chrony", 1s));
    }
}

std::string rmc(time_t utc) {
    char body[96];
    tm u{};
    std::strftime(body, sizeof body, "GPRMC,%H%M%S.00,A,5230.000,N,01323.000,E,0.0,0.0,%d%m%y,,,A",
                  ::gmtime_r(&utc, &u));
    return testing::withChecksum(body) + "\r\n";
}

// A receiver on a pty of the test's own, one RMC each second 150 ms after it begins, and a
// socket bound where chronyd would bind its own. Each second also brings an RMC dated before
// the build: never delivered, never sent. Then the program stops for three seconds: the
// three sentences it finds on waking are a backlog, shown but not sent.
TEST(ChronySocket, GetsNoTimeFromABacklogOrOutsideTheReceiversDates) {
    testing::TempFolder dir;
    const std::string path = dir.file("chrony.sock");
    const int chrony = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un address{AF_UNIX, {}};
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(::bind(chrony, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    testing::Pty gps;
    ChildProcess program = startProgram(dir.root, gps.path(), path);
    ASSERT_TRUE(hasLine(program, "clock: handed to chrony", 5s));

    std::set<time_t> sent;
    const auto second = [&](bool stopped) {
        timespec at{::time(nullptr) + 1, 150'000'000};
        while (::clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &at, nullptr) == EINTR) continue;
        if (!stopped) sent.insert(at.tv_sec);
        // Seven years back: before the build's date whenever this runs.
        const std::string now = rmc(at.tv_sec), old = rmc(at.tv_sec - 7 * 365 * 86400L);
        EXPECT_EQ(::write(gps.master(), now.data(), now.size()), ssize_t(now.size()));
        if (!stopped) {
            std::this_thread::sleep_for(300ms);
            EXPECT_EQ(::write(gps.master(), old.data(), old.size()), ssize_t(old.size()));
        }
    };
    for (int i = 0; i < 3; ++i) second(false);
    ::kill(program.pid(), SIGSTOP);
    for (int i = 0; i < 3; ++i) second(true);
    std::this_thread::sleep_for(500ms);  // the last is as stale as the rest
    ::kill(program.pid(), SIGCONT);
    for (int i = 0; i < 3; ++i) second(false);
    ASSERT_TRUE(hasLine(program, "gps: 3 sentences arrived late (backlog)", 2s))
        << ::testing::PrintToString(program.lines());

    std::set<time_t> got;
    struct {
        timeval tv;
        double offset;
        int pulse, leap, pad, magic;
    } sample{};
    while (::recv(chrony, &sample, sizeof sample, 0) == ssize_t(sizeof sample))
        got.insert(time_t(
            std::lround(double(sample.tv.tv_sec) + sample.tv.tv_usec / 1e6 + sample.offset)));
    ::close(chrony);
    EXPECT_EQ(got, sent);
}

}  // namespace
}  // namespace tidewell
