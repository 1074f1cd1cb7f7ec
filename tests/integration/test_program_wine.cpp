// The Windows programs end to end under Wine, always --no-set-clock: tidewell.exe with nmea-sim
// as the receiver on COM1, a pty as the serial display on COM2, frames over UDP to 127.0.0.1 and
// its status through the named pipe; nmea-check.exe --scan over the COM ports Wine lists. Run
// by the Windows build's suite, which names the programs.
#include <gmock/gmock.h>

#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>

#include "child_process.h"

namespace tidewell {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using testing::ChildProcess;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

const std::string kSim = TIDEWELL_BINARY_DIR "/tools/nmea-sim";

std::string utc(const char* pattern, time_t t) {
    char text[64];
    std::strftime(text, sizeof text, pattern, std::gmtime(&t));
    return text;
}

int wine(const std::string& args) {
    return std::system(("wine " + args + " >/dev/null 2>&1 </dev/null").c_str());
}

// Its lines without the carriage returns Wine's console adds.
std::string textOf(const ChildProcess& process) {
    std::string text;
    for (const std::string& l : process.lines())
        text += l.substr(0, l.size() - l.ends_with('\r')) + "\n";
    return text;
}

// Each test in namespaces of its own: only loopback, and the machine's serial devices are
// /dev/null, so no real port is opened. Wine's server makes the sockets and opens the devices,
// so it starts inside: no process of this prefix may run outside. The prefix is made once (a
// fresh one takes many seconds), without a display; Wine maps COM ports onto the machine's
// serial devices at every start unless its registry names them: links of the test's own.
struct UnderWine : ::testing::Test {
    fs::path prefix, com1, com2;
    fs::path dir = fs::temp_directory_path() / ("tidewell-wine-" + std::to_string(::getpid()));

    void SetUp() override {
        if (!std::getenv("TIDEWELL_WINEPREFIX"))
            GTEST_SKIP() << "run from the Windows build's suite";
        prefix = std::getenv("TIDEWELL_WINEPREFIX"), com1 = prefix / "com1", com2 = prefix / "com2";
        ::setenv("WINEPREFIX", prefix.c_str(), 1);
        ::setenv("WINEDEBUG", "-all", 1), ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
        std::system("wineserver -k 2>/dev/null");
        if (::unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) GTEST_SKIP() << "no namespaces (root?)";
        ASSERT_EQ(std::system("ip link set lo up"), 0);
        ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
        struct stat null = {}, now = {};
        ASSERT_EQ(::stat("/dev/null", &null), 0);
        for (const auto& entry : fs::directory_iterator("/dev")) {
            const std::string path = entry.path();
            if (!std::regex_match(path, std::regex("/dev/tty(S|USB|ACM).*"))) continue;
            ASSERT_EQ(::mount("/dev/null", path.c_str(), nullptr, MS_BIND, nullptr), 0) << path;
            ASSERT_TRUE(::stat(path.c_str(), &now) == 0 && now.st_rdev == null.st_rdev) << path;
        }
        if (!fs::exists(prefix / "system.reg")) {
            ASSERT_EQ(wine("reg add 'HKCU\\Software\\Wine\\Drivers' /v Graphics /d null /f"), 0);
            for (const auto& [name, link] : {std::pair("COM1", com1), {"COM2", com2}})
                ASSERT_EQ(wine("reg add 'HKLM\\Software\\Wine\\Ports' /v " + std::string(name) +
                               " /d " + link.string() + " /f"),
                          0);
            std::system("wineserver -k");  // its services started with the old settings
        }
        fs::remove(com1), fs::remove(com2);
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::system("wineserver -k 2>/dev/null");
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

// The program's UDP socket holds port 16000 without SO_REUSEADDR, so no listener can share
// it: its datagrams are read off the loopback interface instead, as (source port, payload).
std::vector<std::pair<int, std::string>> capture(int fd) {
    std::vector<std::pair<int, std::string>> got;
    unsigned char b[2048];
    sockaddr_ll from{};
    socklen_t size = sizeof from;
    for (ssize_t n; (n = ::recvfrom(fd, b, sizeof b, 0, reinterpret_cast<sockaddr*>(&from),
                                    &(size = sizeof from))) > 0;) {
        const std::size_t ip = (b[0] & 15u) * 4u, length = std::size_t(n);
        if (from.sll_pkttype == PACKET_OUTGOING || b[9] != IPPROTO_UDP || length < ip + 8 ||
            (b[ip + 2] << 8 | b[ip + 3]) != 16000)
            continue;
        got.emplace_back(b[ip] << 8 | b[ip + 1], std::string(b + ip + 8, b + length));
    }
    return got;
}

TEST_F(UnderWine, ProgramSetsTheClockSendsFramesOutlivesAnUnplugTellsItsStatusAndStops) {
    const char* exe = std::getenv("TIDEWELL_EXE");
    if (!exe) GTEST_SKIP() << "no tidewell.exe named";
    ::setenv("TZ", "UTC", 1);
    const int packets =
        ::socket(AF_PACKET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_IP));
    ASSERT_GE(packets, 0);
    // Sentences from 23:58:56 UTC tomorrow: the one stamped 23:59:00, shown as 23:59:01, sets
    // the clock. The first simulator's exit unplugs the receiver; in its place comes one
    // without a fix.
    const time_t now = ::time(nullptr), start = now - now % 86400 + 86400 + 86336;
    ChildProcess first(kSim, {"--start", utc("%Y-%m-%dT%H:%M:%S", start), "--count", "15"});
    ChildProcess noFix(kSim, {"--void", "1"});
    testing::Pty serial;
    fs::create_symlink(dir / "gps", com1);
    fs::create_symlink(serial.path(), com2);
    fs::create_symlink(first.line(0, 3000), dir / "gps");
    fs::create_symlink(noFix.line(0, 3000), dir / "replugged");
    std::ofstream(dir / "Tidewell.ini")
        << "[UDP]\nUDPADDRESS=127.0.0.1\nSENDUDP= 1\nUDPRATE=once per second\n[GPS]\nCOMPORT=COM1\n"
           "GPSDATE= 1\n[SerialSync]\nSENDSYNC= 1\nCOMPORT=COM2\nSERIALRATE=once per second\n"
           "TIMEUTC=True\n";
    std::string settings = "Z:" + (dir / "Tidewell.ini").string();
    std::replace(settings.begin(), settings.end(), '/', '\\');
    // Wine's standard error away from a pipe: its server inherits it, and a server whose writes
    // to a full pipe block stops every Wine process.
    ChildProcess program("/bin/sh", {"-c", "exec /usr/bin/wine \"$0\" \"$@\" 2>/dev/null", exe,
                                     "--headless", "--no-set-clock", "--settings", settings});

    std::string serialBytes;
    std::vector<std::pair<int, std::string>> datagrams;
    std::size_t seen = 0;
    const auto drain = [&] {
        serialBytes += serial.read(4096, 100);
        for (auto& d : capture(packets)) datagrams.push_back(std::move(d));
        program.pump();
    };
    const auto until = [&](const std::string& prefix, std::chrono::seconds wait) {
        for (const auto deadline = testing::Clock::now() + wait; testing::Clock::now() < deadline;)
            for (drain(); seen < program.lines().size(); ++seen)
                if (program.lines()[seen].starts_with(prefix)) return ++seen, true;
        return false;
    };
    std::string text;
    const auto status = [&] {
        ChildProcess client("/bin/sh",
                            {"-c", "exec /usr/bin/wine \"$0\" --status --no-set-clock 2>&1", exe});
        const int code = client.waitExit(60'000);
        return text = textOf(client), code;
    };
    ASSERT_TRUE(until("gps port: COM1 closed", 60s)) << textOf(program);
    fs::rename(dir / "replugged", dir / "gps");
    ASSERT_TRUE(until("gps port: COM1 open", 15s)) << textOf(program);
    // A minute without a fix: the status through the pipe says so.
    int code = 0;
    for (const auto end = testing::Clock::now() + 150s; testing::Clock::now() < end && code == 0;) {
        for (const auto pause = testing::Clock::now() + 3s; testing::Clock::now() < pause;) drain();
        code = status();
    }
    EXPECT_EQ(code, 1) << text;
    EXPECT_TRUE(text.starts_with("tidewell: degraded: no valid time for 1 min ")) << text;
    EXPECT_THAT(text, HasSubstr("\nreceiver:     COM1 (\\\\.\\COM1), open, 4800 baud\n"));
    EXPECT_THAT(text, HasSubstr("no valid fix (status V)"));
    ASSERT_EQ(wine("taskkill /im tidewell.exe"), 0);
    EXPECT_EQ(program.waitExit(10'000), 0);
    drain();
    EXPECT_EQ(status(), 2) << text;
    EXPECT_TRUE(text.starts_with(
        "tidewell is not running (no status pipe at \\\\.\\pipe\\tidewell-status-"))
        << text;

    const auto& lines = program.lines();
    // The rest of what start-up tells is the portable program's, checked on Linux.
    EXPECT_EQ(lines.at(0), "settings: " + settings);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "stopping"), 1);
    // Every frame whole on both outputs, the same in the same tick, from the program's own
    // port 16000; one a second while the receiver was in.
    std::vector<std::string> clock;
    std::vector<std::pair<int, std::string>> frames;
    std::string serialFrames;
    std::vector<time_t> seconds;
    bool unplugged = false;
    for (const std::string& l : lines) {
        if (l.starts_with("clock: would")) clock.push_back(l);
        unplugged = unplugged || l.starts_with("gps port: COM1 closed");
        if (!l.starts_with("frame serial: ")) continue;
        frames.emplace_back(16000, l.substr(14));
        serialFrames += l.substr(14);
        std::tm t{};
        ::strptime(l.substr(15, 14).c_str(), "%S%M%H%m%d%Y", &t);
        if (!unplugged) seconds.push_back(::timegm(&t));
    }
    EXPECT_EQ(clock,
              std::vector<std::string>{"clock: would set date " + utc("%Y-%m-%d", start + 5) +
                                       " and time 23:59:01 (--no-set-clock)"});
    EXPECT_EQ(serialBytes, serialFrames);
    EXPECT_EQ(datagrams, frames);
    ASSERT_GE(seconds.size(), 5u);
    for (std::size_t i = 1; i < seconds.size(); ++i) EXPECT_EQ(seconds[i], seconds[i - 1] + 1);
}

// COM1 nmea-sim at 9600 baud and COM2 a silent line.
TEST_F(UnderWine, ScanFindsTheReceiverAmongTheComPortsWineLists) {
    const char* exe = std::getenv("NMEA_CHECK_EXE");
    if (!exe) GTEST_SKIP() << "no nmea-check.exe named";
    ChildProcess sim(kSim, {"--baud", "9600", "--chunk", "sentence"});
    testing::Pty silent;
    fs::create_symlink(sim.line(0), com1);
    fs::create_symlink(silent.path(), com2);
    ChildProcess scan("/bin/sh", {"-c", "exec wine \"$0\" --scan 2>/dev/null", exe});
    EXPECT_EQ(scan.waitExit(200'000), 0);
    EXPECT_THAT("\n" + textOf(scan),
                AllOf(HasSubstr("\nCOM1 (\\Device\\Serial0): NMEA at 9600 baud, valid time\n"),
                      HasSubstr("\nCOM2 (\\Device\\Serial1): nothing"),
                      ::testing::EndsWith("\nChoose COM1 as the GPS port, with these lines in "
                                          "Tidewell.ini:\n[Ports]\nBAUD=9600\n")));
}

}  // namespace
}  // namespace tidewell
