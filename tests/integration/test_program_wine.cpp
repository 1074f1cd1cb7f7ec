// The Windows program end to end under Wine, always --no-set-clock: nmea-sim as the receiver
// on COM1, a pty as the serial display on COM2, frames over UDP to 127.0.0.1 in a network
// namespace of the test's own. Run by the Windows build's suite, which names tidewell.exe.
#include <gtest/gtest.h>

#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "child_process.h"

namespace tidewell {
namespace {

namespace fs = std::filesystem;
using testing::ChildProcess;
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

TEST(ProgramUnderWine, ShowsSetsTheClockSendsFramesOutlivesAnUnplugAndStopsOnTaskkill) {
    const char* exe = std::getenv("TIDEWELL_EXE");
    const char* prefix = std::getenv("TIDEWELL_WINEPREFIX");
    if (!exe || !prefix) GTEST_SKIP() << "run from the Windows build's suite";
    // Wine's server makes the sockets, so it starts in the namespace: none of this prefix may
    // run outside it.
    ::setenv("WINEPREFIX", prefix, 1);
    ::setenv("WINEDEBUG", "-all", 1);
    ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
    ::setenv("TZ", "UTC", 1);
    std::system("wineserver -k 2>/dev/null");
    if (::unshare(CLONE_NEWNET) != 0) GTEST_SKIP() << "no network namespace of our own (root?)";
    ifreq lo{};
    std::strcpy(lo.ifr_name, "lo");
    lo.ifr_flags = IFF_UP;
    const int control = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::ioctl(control, SIOCSIFFLAGS, &lo), 0);
    ::close(control);
    const int packets = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_IP));
    ASSERT_GE(packets, 0);
    // Made once: a fresh prefix takes many seconds. Windows there need no display. Wine maps
    // COM ports onto the machine's serial devices at every start unless its registry names
    // them: links of the test's own.
    const fs::path com1 = fs::path(prefix) / "com1", com2 = fs::path(prefix) / "com2";
    if (!fs::exists(fs::path(prefix) / "system.reg")) {
        ASSERT_EQ(wine("reg add 'HKCU\\Software\\Wine\\Drivers' /v Graphics /d null /f"), 0);
        for (const auto& [name, link] : {std::pair("COM1", com1), {"COM2", com2}})
            ASSERT_EQ(wine("reg add 'HKLM\\Software\\Wine\\Ports' /v " + std::string(name) +
                           " /d " + link.string() + " /f"),
                      0);
        std::system("wineserver -k");  // its services started with the old settings
    }

    // Sentences from 23:58:56 UTC tomorrow: the one stamped 23:59:00, shown as 23:59:01,
    // sets the clock. The first simulator's exit unplugs the receiver; the second is plugged
    // in at the same path.
    const time_t now = ::time(nullptr), start = now - now % 86400 + 86400 + 86336;
    const auto sim = [](time_t from, int count) {
        return std::make_unique<ChildProcess>(
            kSim, std::vector<std::string>{"--start", utc("%Y-%m-%dT%H:%M:%S", from), "--count",
                                           std::to_string(count)});
    };
    testing::Pty serial;
    const fs::path dir = fs::temp_directory_path() / ("tidewell-wine-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const struct Cleanup {
        fs::path dir;
        ~Cleanup() {
            std::system("wineserver -k");
            std::error_code ec;
            fs::remove_all(dir, ec);
        }
    } cleanup{dir};
    fs::remove(com1), fs::remove(com2);
    fs::create_symlink(dir / "gps", com1);
    fs::create_symlink(serial.path(), com2);
    std::ofstream(dir / "Tidewell.ini")
        << "[GPS]\nCOMPORT=COM1\nGPSDATE= 1\n[SerialSync]\nSENDSYNC= 1\nCOMPORT=COM2\n"
           "SERIALRATE=once per second\nTIMEUTC=True\n[UDP]\nSENDUDP= 1\n"
           "UDPADDRESS=127.0.0.1\nUDPRATE=once per second\n";
    std::string settings = "Z:" + (dir / "Tidewell.ini").string();
    std::replace(settings.begin(), settings.end(), '/', '\\');
    auto first = sim(start, 6), second = sim(start + 6, 20);
    fs::create_symlink(first->line(0, 3000), dir / "gps");
    fs::create_symlink(second->line(0, 3000), dir / "replugged");
    // Wine's standard error to a file: its server inherits it, and a server whose writes to a
    // full pipe block stops every Wine process.
    const fs::path wineLog = dir / "wine.log";
    ChildProcess program("/bin/sh", {"-c", "exec /usr/bin/wine \"$@\" 2>\"$0\"", wineLog.string(),
                                     exe, "--headless", "--no-set-clock", "--settings", settings});

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
    const auto output = [&] {
        std::string text;
        for (const std::string& l : program.lines()) text += l + "\n";
        std::ifstream log(wineLog);
        return text + std::string(std::istreambuf_iterator<char>(log), {}).substr(0, 2000);
    };
    ASSERT_TRUE(until("gps port: COM1 closed", 30s)) << output();
    fs::rename(dir / "replugged", dir / "gps");
    ASSERT_TRUE(until("gps port: COM1 open", 15s)) << output();
    ASSERT_TRUE(until("gps: ", 5s)) << output();
    ASSERT_EQ(wine("taskkill /im tidewell.exe"), 0);
    EXPECT_EQ(program.waitExit(5000), 0);
    drain();

    const auto& lines = program.lines();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(std::vector(lines.begin(), lines.begin() + 5),
              (std::vector<std::string>{"settings: " + settings,
                                        "gps port: COM1 \\\\.\\COM1 open, sets date and time",
                                        "serial sync: on COM2 \\\\.\\COM2 open, once per second",
                                        "udp sync: on to 127.0.0.1:16000, once per second",
                                        "frames: UTC"}));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "stopping"), 1);
    std::vector<std::string> clock, frames;
    for (const std::string& l : lines) {
        if (l.starts_with("clock: would")) clock.push_back(l);
        if (l.starts_with("frame serial: ")) frames.push_back(l.substr(14));
    }
    EXPECT_EQ(clock, std::vector<std::string>{"clock: would set date " + utc("%Y-%m-%d", start + 5) +
                                              " and time 23:59:01 (--no-set-clock)"});
    // Every frame whole on both outputs, the same in the same tick, one a second, from the
    // program's own port 16000.
    ASSERT_GE(frames.size(), 5u);
    EXPECT_EQ(serialBytes.size(), frames.size() * 35);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(serialBytes.substr(i * 35, 35), frames[i]);
        if (i > 0) {
            std::tm t{};
            ::strptime(frames[i - 1].substr(1, 14).c_str(), "%S%M%H%m%d%Y", &t);
            EXPECT_EQ(frames[i].substr(1, 14), utc("%S%M%H%m%d%Y", ::timegm(&t) + 1));
        }
    }
    ASSERT_EQ(datagrams.size(), frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i)
        EXPECT_EQ(datagrams[i], std::pair(16000, frames[i]));
}

}  // namespace
}  // namespace tidewell
