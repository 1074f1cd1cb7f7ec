// The Linux program end to end: nmea-sim as the receiver, a pty as the serial time display, a
// UDP socket on loopback as the network display. Always --no-set-clock.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "child_process.h"

namespace tidewell {
namespace {

namespace fs = std::filesystem;
using testing::ChildProcess;
using Wall = std::chrono::system_clock;
using namespace std::chrono_literals;

const std::string kProgram = TIDEWELL_BINARY_DIR "/tidewell";
const std::string kSim = TIDEWELL_BINARY_DIR "/tools/nmea-sim";
constexpr std::size_t kFrameSize = 35;

// A loopback address of this test process's own, so another program sending to
// 127.0.0.1:16000 on this machine (outside the suite's lock) neither reaches this display
// nor loses its datagrams to it.
const std::string kDisplayAddress = "127.0.0." + std::to_string(2 + ::getpid() % 250);

// Instant t as the zone's wall clock shows it, by the same C library rules as the program's.
std::string format(const char* pattern, time_t t, const std::string& zone = "UTC") {
    const char* outer = std::getenv("TZ");
    const std::optional<std::string> saved =
        outer ? std::optional<std::string>(outer) : std::nullopt;
    ::setenv("TZ", zone.c_str(), 1);
    ::tzset();
    tm fields{};
    ::localtime_r(&t, &fields);
    saved ? ::setenv("TZ", saved->c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
    char text[64];
    std::strftime(text, sizeof text, pattern, &fields);
    return text;
}
// Without the leading zeros strftime cannot drop.
std::string noZero(const char* pattern, time_t t, const std::string& zone = "UTC") {
    return std::regex_replace(format(pattern, t, zone), std::regex(R"((^|/)0(\d))"), "$1$2");
}

// The line the program shows for an RMC stamped `stamp` (UTC, whole second).
std::string gpsLine(time_t stamp, const std::string& zone) {
    const time_t shown = stamp + 1;  // the receive advance
    return "gps: " + format("%d-%m-%Y   ", shown) + noZero("%H:%M:%S", shown) +
           " | local: " + noZero("%d/%m/", shown, zone) + format("%y", shown, zone) + "   " +
           noZero("%H:%M:%S", shown, zone);
}

struct Received {
    std::string text;
    Wall::time_point at;
};

struct RunSetup {
    const char* name = "Utc";
    std::string zone = "UTC";
    bool gpsDate = true, utcFrames = true, batterySave = true, udp = true;
    std::string udpRate = "once per second";
    std::string framesLine = "frames: UTC, battery save";
};

void PrintTo(const RunSetup& setup, std::ostream* os) {
    *os << setup.name;
}

// One run of the program with its displays; everything it started dies with it.
class ProgramRun {
public:
    ProgramRun(const RunSetup& setup, const std::string& gpsDevice) : setup_(setup) {
        udp_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const int on = 1;
        ::setsockopt(udp_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in addr{};  // narrower than the program's own INADDR_ANY:16000, so it wins
        addr.sin_family = AF_INET;
        addr.sin_port = htons(16000);
        ::inet_pton(AF_INET, kDisplayAddress.c_str(), &addr.sin_addr);
        std::string home = (fs::temp_directory_path() / "tidewell-e2e-XXXXXX").string();
        if (::bind(udp_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || !serial_.ok() ||
            !::mkdtemp(home.data()))
            return;
        dir_ = home;
        std::ofstream(dir_ / "Tidewell.ini")
            << "[GPS]\nCOMPORT=COM1\nGPSDATE=" << setup.gpsDate << "\n[Ports]\nCOM1=" << gpsDevice
            << "\nCOM2=" << serial_.path() << "\n[SerialSync]\nSENDSYNC= 1\nCOMPORT=COM2\n"
            << "SERIALRATE=once per second\nTIMEUTC=" << (setup.utcFrames ? "True" : "False")
            << "\nTIMELOCAL=" << (setup.utcFrames ? "False" : "True")
            << "\n[UDP]\nSENDUDP= " << setup.udp << "\nUDPADDRESS=" << kDisplayAddress
            << "\nUDPRATE=" << setup.udpRate << "\n[Analog]\nBATTERYSAVE= " << setup.batterySave
            << "\n";
        program_.emplace(kProgram,
                         std::vector<std::string>{"--headless", "--no-set-clock", "--settings",
                                                  (dir_ / "Tidewell.ini").string()},
                         std::vector<std::string>{"TZ=" + setup.zone, "HOME=" + home,
                                                  "XDG_CONFIG_HOME=" + home + "/config"});
    }
    ~ProgramRun() {
        program_.reset();
        ::close(udp_);
        std::error_code ec;
        if (!dir_.empty()) fs::remove_all(dir_, ec);
    }

    bool ok() const { return program_ && program_->pid() > 0; }
    ChildProcess& program() { return *program_; }
    const std::string& serialPath() const { return serial_.path(); }
    const std::vector<Received>& serial() const { return serialFrames_; }
    const std::vector<Received>& udp() const { return datagrams_; }

    // Collects output until a new stdout line starts with `prefix` (true) or the wait ends.
    bool until(const std::string& prefix, std::chrono::milliseconds wait) {
        const auto deadline = testing::Clock::now() + wait;
        for (;; seen_ = program_->lines().size()) {
            program_->pump();
            readDisplays();
            for (std::size_t i = seen_; i < program_->lines().size(); ++i)
                if (program_->lines()[i].starts_with(prefix)) return seen_ = i + 1, true;
            if (testing::Clock::now() >= deadline) return false;
            pollfd fds[3] = {{program_->stdoutFd(), POLLIN, 0},
                             {serial_.master(), POLLIN, 0},
                             {udp_, POLLIN, 0}};
            ::poll(fds, 3, 100);
        }
    }

    // SIGTERM: a clean, prompt exit.
    void stop() {
        const auto asked = testing::Clock::now();
        program_->signal(SIGTERM);
        EXPECT_EQ(program_->waitExit(5000), 0);
        EXPECT_LT(testing::Clock::now() - asked, 2s);
        readDisplays();
    }

    std::vector<std::string> linesStartingWith(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& l : program_->lines())
            if (l.starts_with(prefix)) out.push_back(l);
        return out;
    }

    // Layout, trailer and time of every serial frame: the PC clock's second, one a second.
    void checkSerialFrames() const {
        EXPECT_EQ(serialBytes_.size() % kFrameSize, 0u) << "bytes beyond whole 35-byte frames";
        const std::regex layout(R"(\*\d{14}[0 ]{9}1[0 ]{2}[01 ][0 ]{6}#)");
        std::optional<time_t> previous;
        std::vector<std::string> read;
        for (const auto& f : serialFrames_) {
            SCOPED_TRACE("frame '" + f.text + "'");
            ASSERT_TRUE(std::regex_match(f.text, layout));
            const int hour = std::stoi(f.text.substr(5, 2));
            std::string trailer(20, setup_.utcFrames ? '0' : ' ');
            trailer[9] = '1';
            if (setup_.batterySave && hour != 2 && hour != 15) trailer[12] = '1';
            trailer[19] = '#';
            EXPECT_EQ(f.text.substr(15), trailer);
            // The second it was read in or the one before; UTC frames carry the month first,
            // local ones the day. Matched as wall time, as local fields can name two instants.
            const auto fields = [&](time_t t) {
                return setup_.utcFrames ? format("%S%M%H%m%d%Y", t)
                                        : format("%S%M%H%d%m%Y", t, setup_.zone);
            };
            const time_t at = Wall::to_time_t(f.at);
            const time_t shows = f.text.substr(1, 14) == fields(at) ? at : at - 1;
            EXPECT_EQ(f.text.substr(1, 14), fields(shows));
            if (previous) {
                EXPECT_EQ(shows, *previous + 1) << "one frame per second";
            }
            previous = shows;
            read.push_back("frame serial: " + f.text);
        }
        EXPECT_EQ(read, linesStartingWith("frame serial: "));
    }

private:
    void readDisplays() {
        char buffer[2048];
        for (ssize_t n; (n = ::read(serial_.master(), buffer, sizeof buffer)) > 0;)
            serialBytes_.append(buffer, static_cast<std::size_t>(n));
        const auto now = Wall::now();
        for (auto i = serialFrames_.size() * kFrameSize; i + kFrameSize <= serialBytes_.size();
             i += kFrameSize)
            serialFrames_.push_back({serialBytes_.substr(i, kFrameSize), now});
        for (ssize_t n; (n = ::recv(udp_, buffer, sizeof buffer, 0)) >= 0;)
            datagrams_.push_back({std::string(buffer, static_cast<std::size_t>(n)), now});
    }

    RunSetup setup_;
    fs::path dir_;
    testing::Pty serial_;
    int udp_ = -1;
    std::string serialBytes_;
    std::vector<Received> serialFrames_, datagrams_;
    std::optional<ChildProcess> program_;
    std::size_t seen_ = 0;
};

// nmea-sim dated `start`, one sentence a second; its first line names its pty.
std::vector<std::string> simArgs(time_t start, int count) {
    return {"--start", format("%Y-%m-%dT%H:%M:%S", start),
            "--rate",  "1",
            "--count", std::to_string(count)};
}

#define REQUIRE_BUILT()                                                                            \
    if (!fs::exists(kProgram) || !fs::exists(kSim))                                                \
    GTEST_SKIP() << "the program or nmea-sim is not built"

// Tomorrow's UTC midnight: the simulated receiver's dates are never before the build date the
// program insists on, which is the build's local date and may be ahead of UTC.
time_t tomorrowUtc() {
    const time_t now = ::time(nullptr);
    return now - now % 86400 + 86400;
}

class ProgramEndToEnd : public ::testing::TestWithParam<RunSetup> {};

// Six sentences from 23:58:56 to 23:59:01 UTC: the minute changes within five seconds, and the
// run ends when the simulator stops. The first sentence may be gone before the program opens
// the port (it drops what was queued before the open), so it is optional.
TEST_P(ProgramEndToEnd, ShowsSetsTheClockAndSendsFramesAtTheirRates) {
    REQUIRE_BUILT();
    const RunSetup& setup = GetParam();
    if (!fs::exists("/usr/share/zoneinfo/" + setup.zone))
        GTEST_SKIP() << "no " << setup.zone << " zone here";
    const time_t start = tomorrowUtc() + 23 * 3600 + 58 * 60 + 56;
    ChildProcess sim(kSim, simArgs(start, 6));
    const std::string device = sim.line(0, 3000);
    ASSERT_FALSE(device.empty());
    ProgramRun run(setup, device);
    ASSERT_TRUE(run.ok());
    run.until("gps port: COM1 closed", 12s);
    run.stop();

    EXPECT_EQ(run.linesStartingWith("frames: "), std::vector<std::string>{setup.framesLine});
    EXPECT_EQ(run.linesStartingWith("serial sync: "),
              std::vector<std::string>{"serial sync: on COM2 " + run.serialPath() +
                                       " open, once per second"});
    EXPECT_EQ(run.linesStartingWith("udp sync: "),
              std::vector<std::string>{"udp sync: on to " + kDisplayAddress + ":16000, " +
                                       setup.udpRate});
    std::vector<std::string> expected;
    for (int i = 0; i < 6; ++i) expected.push_back(gpsLine(start + i, setup.zone));
    auto shown = run.linesStartingWith("gps: ");
    if (shown.size() == 5) shown.insert(shown.begin(), expected.front());
    EXPECT_EQ(shown, expected);
    // The clock is set once, right after the sentence stamped second 00 is shown.
    const time_t set = start + 5;
    const std::string clock =
        "clock: would set " +
        (setup.gpsDate ? "date " + format("%Y-%m-%d", set, setup.zone) + " and time " : "time ") +
        format("%H:%M:%S", set, setup.zone) + " (--no-set-clock)";
    const auto& lines = run.program().lines();
    const auto at = std::find(lines.begin(), lines.end(), clock);
    ASSERT_NE(at, lines.end()) << run.program().stdoutText();
    EXPECT_EQ(*(at - 1), gpsLine(start + 4, setup.zone));
    EXPECT_EQ(run.linesStartingWith("clock:").size(), 1u);
    EXPECT_EQ(lines.back(), "stopping");

    run.checkSerialFrames();
    EXPECT_GE(run.serial().size(), 5u);
    // Both outputs send the frame of the same tick, the UDP one at its own rate.
    const bool perMinute = setup.udpRate == "once per minute";
    std::vector<std::string> sent, due;
    for (const auto& d : run.udp()) sent.push_back(d.text);
    for (const auto& f : run.serial())
        if (!perMinute || due.empty() || f.text.substr(1, 2) == "00") due.push_back(f.text);
    if (perMinute) {
        EXPECT_EQ(sent, due);
    }
    EXPECT_NEAR(static_cast<double>(sent.size()), static_cast<double>(due.size()), 1.0);
    for (const auto& d : run.udp()) {
        const auto match = std::find_if(run.serial().begin(), run.serial().end(),
                                        [&](const Received& f) { return f.text == d.text; });
        ASSERT_NE(match, run.serial().end()) << d.text;
        EXPECT_LT(std::chrono::abs(match->at - d.at), 300ms) << d.text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Zones, ProgramEndToEnd,
    ::testing::Values(RunSetup{}, RunSetup{"Berlin", "Europe/Berlin", false, false, true, true,
                                           "once per minute", "frames: local time, battery save"}),
    [](const auto& info) { return std::string(info.param.name); });

long cpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)), {});
    // After the command name, which may hold blanks: utime and stime are fields 14 and 15.
    std::istringstream rest(text.substr(text.rfind(')') + 2));
    std::vector<std::string> fields;
    for (std::string f; rest >> f;) fields.push_back(f);
    return fields.size() > 12 ? std::stol(fields[11]) + std::stol(fields[12]) : -1;
}

TEST(ProgramUnplug, ReceiverGoneIsReportedWithoutSpinningAndFramesFlow) {
    REQUIRE_BUILT();
    ChildProcess sim(kSim, simArgs(tomorrowUtc() + 12 * 3600, 1000));
    const std::string device = sim.line(0, 3000);
    ASSERT_FALSE(device.empty());
    RunSetup setup;
    setup.udp = false;
    ProgramRun run(setup, device);
    ASSERT_TRUE(run.ok());
    ASSERT_TRUE(run.until("gps: ", 4s));
    sim.signal(SIGKILL);
    ASSERT_TRUE(run.until("gps port: COM1 closed", 2s));
    const std::size_t framesBefore = run.serial().size();
    const long ticksBefore = cpuTicks(run.program().pid());
    run.until("never", 2s);
    EXPECT_LT(cpuTicks(run.program().pid()) - ticksBefore,
              0.2 * static_cast<double>(::sysconf(_SC_CLK_TCK)))
        << "the program used the CPU while the receiver was gone";
    EXPECT_GE(run.serial().size(), framesBefore + 2);
    run.stop();
    run.checkSerialFrames();
}

TEST(ProgramOptions, HelpVersionAndABadOption) {
    REQUIRE_BUILT();
    // Matched against stdout, "|", stderr.
    const std::tuple<std::string, int, const char*> cases[] = {
        {"--help", 0, R"(Usage: tidewell [\s\S]*--no-set-clock[\s\S]*\|)"},
        {"--version", 0, R"(Tidewell \d+\.\d+\.\d+\n\|)"},
        {"--bogus", 2, R"(\|tidewell: unknown option: --bogus\nUsage: [\s\S]*)"},
    };
    for (const auto& [option, status, pattern] : cases) {
        ChildProcess program(kProgram, {option});
        EXPECT_EQ(program.waitExit(3000), status) << option;
        const std::string output = program.stdoutText() + "|" + program.stderrText();
        EXPECT_TRUE(std::regex_match(output, std::regex(pattern))) << output;
    }
}

// A demo killed outright leaves its folder behind; the next demo removes it, but never the
// folder of a process that still runs.
TEST(ProgramDemo, RemovesFoldersLeftByKilledDemos) {
    REQUIRE_BUILT();
    std::string tmp = (fs::temp_directory_path() / "tidewell-e2e-XXXXXX").string();
    ASSERT_TRUE(::mkdtemp(tmp.data()));
    const fs::path running = fs::path(tmp) / ("tidewell-demo-" + std::to_string(::getpid()) + "-x");
    fs::create_directory(running);
    auto folderOf = [](ChildProcess& demo) {
        for (std::size_t i = 0; i < 5; ++i)
            if (const std::string line = demo.line(i); line.starts_with("settings: "))
                return fs::path(line.substr(10)).parent_path();
        return fs::path();
    };
    ChildProcess killed(kProgram, {"--demo"}, {"TMPDIR=" + tmp});
    const fs::path left = folderOf(killed);
    EXPECT_EQ(left.filename().string().rfind("tidewell-demo-" + std::to_string(killed.pid()) + "-"),
              0u)
        << left;
    killed.signal(SIGKILL);
    killed.waitExit(2000);
    ASSERT_TRUE(fs::exists(left));

    ChildProcess next(kProgram, {"--demo"}, {"TMPDIR=" + tmp});
    const fs::path own = folderOf(next);
    EXPECT_FALSE(fs::exists(left));
    EXPECT_TRUE(fs::exists(running));
    next.signal(SIGTERM);
    EXPECT_EQ(next.waitExit(5000), 0);
    EXPECT_FALSE(own.empty() || fs::exists(own));
    fs::remove_all(tmp);
}

}  // namespace
}  // namespace tidewell
