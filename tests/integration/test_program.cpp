// The Linux program end to end: nmea-sim as the receiver, a pty as the serial time display, a
// UDP socket on loopback as the network display. Always --no-set-clock.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

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
constexpr int kBrisbaneOffset = 10 * 3600;

struct Received {
    std::string text;
    Wall::time_point at;
};

std::string format(const char* pattern, time_t t) {
    tm u{};
    ::gmtime_r(&t, &u);
    char text[64];
    std::strftime(text, sizeof text, pattern, &u);
    return text;
}

// Today's UTC midnight: the simulated receiver dates its sentences today, never before the
// build date the program insists on.
time_t todayUtc() {
    const time_t now = ::time(nullptr);
    return now - now % 86400;
}

// d/m/yy and h:mm:ss without the leading zeros strftime cannot drop.
std::string shortDate(time_t t) {
    tm u{};
    ::gmtime_r(&t, &u);
    return std::to_string(u.tm_mday) + "/" + std::to_string(u.tm_mon + 1) + "/" + format("%y", t);
}
std::string shortTime(time_t t) {
    tm u{};
    ::gmtime_r(&t, &u);
    return std::to_string(u.tm_hour) + format(":%M:%S", t);
}

// The line the program shows for an RMC stamped `stamp` (UTC, whole second).
std::string gpsLine(time_t stamp, int zoneOffset) {
    const time_t shown = stamp + 1;  // the receive advance
    return "gps: " + format("%d-%m-%Y   ", shown) + shortTime(shown) +
           " | local: " + shortDate(shown + zoneOffset) + "   " + shortTime(shown + zoneOffset);
}

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "tidewell-e2e-XXXXXX").string();
        if (::mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// The serial time display: the program writes to the slave, the test reads the master.
class SerialDisplay {
public:
    SerialDisplay() {
        if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) return;
        ::fcntl(master_, F_SETFD, FD_CLOEXEC);
        ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        if (const char* name = ::ttyname(slave_)) path_ = name;
    }
    ~SerialDisplay() {
        if (master_ >= 0) ::close(master_);
        if (slave_ >= 0) ::close(slave_);
    }
    SerialDisplay(const SerialDisplay&) = delete;
    SerialDisplay& operator=(const SerialDisplay&) = delete;

    bool ok() const { return master_ >= 0 && !path_.empty(); }
    int fd() const { return master_; }
    const std::string& path() const { return path_; }

    void read() {
        char buffer[1024];
        for (ssize_t n; (n = ::read(master_, buffer, sizeof buffer)) > 0;)
            bytes_.append(buffer, static_cast<std::size_t>(n));
        const auto now = Wall::now();
        for (; bytes_.size() - taken_ >= kFrameSize; taken_ += kFrameSize)
            frames_.push_back({bytes_.substr(taken_, kFrameSize), now});
    }
    const std::vector<Received>& frames() const { return frames_; }
    std::size_t leftover() const { return bytes_.size() - taken_; }

private:
    int master_ = -1, slave_ = -1;
    std::string path_, bytes_;
    std::size_t taken_ = 0;
    std::vector<Received> frames_;
};

// A loopback address of this test process's own, so another program sending to
// 127.0.0.1:16000 on this machine (outside the suite's lock) neither reaches this display
// nor loses its datagrams to it.
const std::string kDisplayAddress = "127.0.0." + std::to_string(2 + ::getpid() % 250);

// Where the program's unicast lands: this binding is more specific than the program's own
// INADDR_ANY:16000.
class UdpDisplay {
public:
    UdpDisplay() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(16000);
        ::inet_pton(AF_INET, kDisplayAddress.c_str(), &addr.sin_addr);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~UdpDisplay() { ::close(fd_); }
    UdpDisplay(const UdpDisplay&) = delete;
    UdpDisplay& operator=(const UdpDisplay&) = delete;

    bool ok() const { return bound_; }
    int fd() const { return fd_; }
    void read() {
        char buffer[2048];
        for (ssize_t n; (n = ::recv(fd_, buffer, sizeof buffer, 0)) >= 0;)
            datagrams_.push_back({std::string(buffer, static_cast<std::size_t>(n)), Wall::now()});
    }
    const std::vector<Received>& datagrams() const { return datagrams_; }

private:
    int fd_ = -1;
    bool bound_ = false;
    std::vector<Received> datagrams_;
};

struct RunSetup {
    std::string zone = "UTC";
    std::string gpsDevice;  // COM1
    bool gpsDate = true;
    bool utcFrames = true;
    bool batterySave = false;
    bool udp = true;
    std::string udpRate = "once per second";
};

RunSetup serialOnly(const std::string& gpsDevice) {
    RunSetup setup;
    setup.gpsDevice = gpsDevice;
    setup.udp = false;
    return setup;
}

// One run of the program with its displays; everything it started dies with it.
class ProgramRun {
public:
    explicit ProgramRun(const RunSetup& setup) : setup_(setup) {
        if (dir_.path().empty() || !serial_.ok() || !udp_.ok()) return;
        const fs::path ini = dir_.path() / "Tidewell.ini";
        std::ofstream(ini) << "[GPS]\nCOMPORT=COM1\nGPSDATE=" << (setup.gpsDate ? 1 : 0) << "\n"
                           << "[Ports]\nCOM1=" << setup.gpsDevice << "\nCOM2=" << serial_.path() << "\n"
                           << "[SerialSync]\nSENDSYNC= 1\nCOMPORT=COM2\nSERIALRATE=once per second\n"
                           << "TIMEUTC=" << (setup.utcFrames ? "True" : "False") << "\n"
                           << "TIMELOCAL=" << (setup.utcFrames ? "False" : "True") << "\n"
                           << "[UDP]\nSENDUDP= " << (setup.udp ? 1 : 0) << "\n"
                           << "UDPADDRESS=" << kDisplayAddress << "\nUDPRATE=" << setup.udpRate << "\n"
                           << "[Analog]\nBATTERYSAVE= " << (setup.batterySave ? 1 : 0) << "\n";
        const std::string home = dir_.path().string();
        program_.emplace(kProgram,
                         std::vector<std::string>{"--headless", "--no-set-clock", "--settings", ini.string()},
                         std::vector<std::string>{"TZ=" + setup.zone, "HOME=" + home,
                                                  "XDG_CONFIG_HOME=" + home + "/config"});
    }

    bool ok() const { return program_ && program_->started(); }
    ChildProcess& program() { return *program_; }
    const ChildProcess& program() const { return *program_; }
    const SerialDisplay& serial() const { return serial_; }
    const UdpDisplay& udp() const { return udp_; }

    // Collects output until a stdout line starts with `prefix` (true) or the wait ends.
    bool until(const std::string& prefix, std::chrono::milliseconds wait) {
        return collect(wait, [&] {
            for (; seen_ < program_->lines().size(); ++seen_)
                if (program_->lines()[seen_].text.starts_with(prefix)) return true;
            return false;
        });
    }
    void collectFor(std::chrono::milliseconds wait) {
        collect(wait, [] { return false; });
    }

    // SIGTERM; the exit status, and how long the exit took.
    std::pair<int, std::chrono::milliseconds> stop() {
        const auto asked = ChildProcess::Clock::now();
        program_->signal(SIGTERM);
        const int status = program_->waitExit(5000);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            ChildProcess::Clock::now() - asked);
        serial_.read();
        udp_.read();
        return {status, took};
    }

    std::vector<std::string> linesStartingWith(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& l : program_->lines())
            if (l.text.starts_with(prefix)) out.push_back(l.text);
        return out;
    }

    // Each frame carries the PC clock's time in the program's zone; as epoch seconds.
    time_t frameTime(const std::string& frame) const {
        tm t{};
        const int first = std::stoi(frame.substr(7, 2)), second = std::stoi(frame.substr(9, 2));
        t.tm_sec = std::stoi(frame.substr(1, 2));
        t.tm_min = std::stoi(frame.substr(3, 2));
        t.tm_hour = std::stoi(frame.substr(5, 2));
        t.tm_mon = (setup_.utcFrames ? first : second) - 1;
        t.tm_mday = setup_.utcFrames ? second : first;
        t.tm_year = std::stoi(frame.substr(11, 4)) - 1900;
        return ::timegm(&t) - (setup_.utcFrames ? 0 : zoneOffset());
    }
    int zoneOffset() const { return setup_.zone == "UTC" ? 0 : kBrisbaneOffset; }

    // Layout, trailer and time of every frame read from the serial display.
    void checkSerialFrames() const {
        const auto& frames = serial_.frames();
        EXPECT_EQ(serial_.leftover(), 0u) << "bytes beyond whole 35-byte frames";
        const std::regex layout(R"(\*\d{14}[0 ]{9}1[0 ]{2}[01 ][0 ]{6}#)");
        const char fill = setup_.utcFrames ? '0' : ' ';
        std::optional<time_t> previous;
        for (const auto& f : frames) {
            SCOPED_TRACE("frame '" + f.text + "'");
            ASSERT_TRUE(std::regex_match(f.text, layout));
            const int hour = std::stoi(f.text.substr(5, 2));
            const bool saving = setup_.batterySave && hour != 2 && hour != 15;
            std::string trailer(20, fill);
            trailer[9] = '1';
            if (saving) trailer[12] = '1';
            trailer[19] = '#';
            EXPECT_EQ(f.text.substr(15), trailer);
            const time_t at = Wall::to_time_t(f.at);
            const time_t t = frameTime(f.text);
            EXPECT_LE(t, at);
            EXPECT_GE(t, at - 1);
            if (previous) {
                EXPECT_EQ(t, *previous + 1) << "one frame per second";
            }
            previous = t;
        }
        std::vector<std::string> reported;
        for (const auto& l : linesStartingWith("frame serial: ")) reported.push_back(l.substr(14));
        std::vector<std::string> read;
        for (const auto& f : frames) read.push_back(f.text);
        EXPECT_EQ(read, reported);
    }

    // Both outputs take the frame of the same tick: every datagram matches the serial frame
    // of its second and came at most a moment apart.
    void checkUdpMatchesSerial() const {
        for (const auto& d : udp_.datagrams()) {
            SCOPED_TRACE("datagram '" + d.text + "'");
            ASSERT_EQ(d.text.size(), kFrameSize);
            bool found = false;
            for (const auto& f : serial_.frames())
                if (f.text == d.text) {
                    found = true;
                    EXPECT_LT(std::chrono::abs(f.at - d.at), 300ms);
                }
            EXPECT_TRUE(found);
        }
    }

private:
    RunSetup setup_;
    TempDir dir_;
    SerialDisplay serial_;
    UdpDisplay udp_;
    std::optional<ChildProcess> program_;
    std::size_t seen_ = 0;

    template <typename Done>
    bool collect(std::chrono::milliseconds wait, Done done) {
        const auto deadline = ChildProcess::Clock::now() + wait;
        for (;;) {
            program_->pump();
            serial_.read();
            udp_.read();
            if (done()) return true;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - ChildProcess::Clock::now());
            if (left.count() <= 0) return false;
            pollfd fds[3] = {{program_->stdoutFd(), POLLIN, 0}, {serial_.fd(), POLLIN, 0},
                             {udp_.fd(), POLLIN, 0}};
            ::poll(fds, 3, static_cast<int>(std::min<long long>(left.count(), 100)));
        }
    }
};

// nmea-sim dated `start`, one sentence a second; its first line is its pty.
struct Simulator {
    std::optional<ChildProcess> process;
    std::string device;

    Simulator(time_t start, int count) {
        std::vector<std::string> args{"--start", format("%Y-%m-%dT%H:%M:%S", start), "--rate", "1"};
        if (count > 0) args.insert(args.end(), {"--count", std::to_string(count)});
        process.emplace(kSim, args);
        if (auto line = process->waitForLine("/", 3000)) device = line->text;
    }
};

bool builtOrSkip(std::string& why) {
    for (const auto& exe : {kProgram, kSim})
        if (!fs::exists(exe)) {
            why = exe + " not built";
            return false;
        }
    return true;
}

#define REQUIRE_BUILT()                                                                         \
    if (std::string why; !builtOrSkip(why)) GTEST_SKIP() << why

// Six sentences from hh:58:56 to hh:59:01: the minute changes within five seconds, and the
// run ends by itself when the simulator stops. The first sentence may be gone before the
// program opens the port (it drops what was queued before the open), so it is optional.
struct MinuteChangeRun {
    time_t start = todayUtc() + 23 * 3600 + 58 * 60 + 56;
    Simulator sim{start, 6};
    std::optional<ProgramRun> run;

    explicit MinuteChangeRun(RunSetup setup) {
        if (sim.device.empty()) return;
        setup.gpsDevice = sim.device;
        run.emplace(setup);
        if (run->ok()) run->until("gps port: COM1 closed", 12s);
    }

    void checkGpsLines(int zoneOffset) const {
        std::vector<std::string> expected;
        for (int i = 0; i < 6; ++i) expected.push_back(gpsLine(start + i, zoneOffset));
        auto shown = run->linesStartingWith("gps: ");
        if (shown.size() == 5) shown.insert(shown.begin(), expected.front());
        EXPECT_EQ(shown, expected);
    }

    // The clock line must follow the display of the sentence stamped second 00.
    void checkClockLine(const std::string& expected) const {
        EXPECT_EQ(run->linesStartingWith("clock:"), std::vector<std::string>{expected});
        const auto& lines = run->program().lines();
        for (std::size_t i = 1; i < lines.size(); ++i)
            if (lines[i].text.starts_with("clock:")) {
                EXPECT_EQ(lines[i - 1].text, gpsLine(start + 4, run->zoneOffset()));
            }
    }
};

TEST(ProgramEndToEnd, UtcZoneSetsDateAndTimeAndSendsUtcFramesEverySecond) {
    REQUIRE_BUILT();
    MinuteChangeRun r(RunSetup{});
    ASSERT_FALSE(r.sim.device.empty());
    ASSERT_TRUE(r.run && r.run->ok());
    const auto [status, took] = r.run->stop();
    EXPECT_EQ(status, 0);
    EXPECT_LT(took, 2s);

    auto& run = *r.run;
    EXPECT_EQ(run.linesStartingWith("serial sync: "),
              std::vector<std::string>{"serial sync: on COM2 " + run.serial().path() +
                                       " open, once per second"});
    EXPECT_EQ(run.linesStartingWith("udp sync: "),
              std::vector<std::string>{"udp sync: on to " + kDisplayAddress + ":16000, once per second"});
    EXPECT_EQ(run.linesStartingWith("frames: "), std::vector<std::string>{"frames: UTC"});
    r.checkGpsLines(0);
    r.checkClockLine("clock: would set date " + format("%Y-%m-%d", r.start) +
                     " and time 23:59:01 (--no-set-clock)");
    EXPECT_EQ(run.program().lines().back().text, "stopping");

    run.checkSerialFrames();
    EXPECT_GE(run.serial().frames().size(), 5u);
    run.checkUdpMatchesSerial();
    const auto serialCount = static_cast<long>(run.serial().frames().size());
    EXPECT_NEAR(static_cast<long>(run.udp().datagrams().size()), serialCount, 1);
}

TEST(ProgramEndToEnd, BrisbaneShowsNextDaySetsTimeOnlyAndSendsLocalBatterySaveFrames) {
    REQUIRE_BUILT();
    if (!fs::exists("/usr/share/zoneinfo/Australia/Brisbane"))
        GTEST_SKIP() << "no Australia/Brisbane zone on this machine";
    RunSetup brisbane;
    brisbane.zone = "Australia/Brisbane";
    brisbane.gpsDate = false;
    brisbane.utcFrames = false;
    brisbane.batterySave = true;
    brisbane.udpRate = "once per minute";
    MinuteChangeRun r(brisbane);
    ASSERT_FALSE(r.sim.device.empty());
    ASSERT_TRUE(r.run && r.run->ok());
    const auto [status, took] = r.run->stop();
    EXPECT_EQ(status, 0);
    EXPECT_LT(took, 2s);

    auto& run = *r.run;
    EXPECT_EQ(run.linesStartingWith("frames: "),
              std::vector<std::string>{"frames: local time, battery save"});
    r.checkGpsLines(kBrisbaneOffset);
    r.checkClockLine("clock: would set time 09:59:01 (--no-set-clock)");

    run.checkSerialFrames();
    run.checkUdpMatchesSerial();
    // Once per minute: the first working tick, then only at second 00 of the PC clock.
    const auto& serial = run.serial().frames();
    const auto& udp = run.udp().datagrams();
    ASSERT_FALSE(serial.empty());
    ASSERT_FALSE(udp.empty());
    EXPECT_EQ(udp.front().text, serial.front().text);
    std::vector<std::string> minuteFrames{serial.front().text};
    for (std::size_t i = 1; i < serial.size(); ++i)
        if (serial[i].text.substr(1, 2) == "00") minuteFrames.push_back(serial[i].text);
    std::vector<std::string> sent;
    for (const auto& d : udp) sent.push_back(d.text);
    EXPECT_EQ(sent, minuteFrames);
}

TEST(ProgramEndToEnd, MissingGpsDeviceLeavesThePortClosedAndFramesFlowing) {
    REQUIRE_BUILT();
    TempDir dir;
    const std::string missing = (dir.path() / "no-such-receiver").string();
    ProgramRun run(serialOnly(missing));
    ASSERT_TRUE(run.ok());
    ASSERT_TRUE(run.until("gps port: ", 3s));
    EXPECT_EQ(run.linesStartingWith("gps port: "),
              std::vector<std::string>{"gps port: COM1 " + missing + " closed, sets date and time"});
    run.collectFor(2200ms);
    const auto [status, took] = run.stop();
    EXPECT_EQ(status, 0);
    EXPECT_LT(took, 2s);
    EXPECT_GE(run.serial().frames().size(), 2u);
    run.checkSerialFrames();
    EXPECT_TRUE(run.linesStartingWith("gps: ").empty());
    EXPECT_TRUE(run.udp().datagrams().empty());
}

long cpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    // Fields after the command name, which may hold blanks: state is field 3, utime 14, stime 15.
    std::istringstream rest(text.substr(text.rfind(')') + 2));
    std::vector<std::string> fields;
    for (std::string f; rest >> f;) fields.push_back(f);
    return fields.size() > 12 ? std::stol(fields[11]) + std::stol(fields[12]) : -1;
}

TEST(ProgramEndToEnd, UnpluggedReceiverIsReportedWithoutSpinning) {
    REQUIRE_BUILT();
    Simulator sim(todayUtc() + 12 * 3600, 0);
    ASSERT_FALSE(sim.device.empty());
    ProgramRun run(serialOnly(sim.device));
    ASSERT_TRUE(run.ok());
    ASSERT_TRUE(run.until("gps: ", 4s));
    sim.process->signal(SIGKILL);
    ASSERT_TRUE(run.until("gps port: COM1 closed", 2s));
    const std::size_t framesBefore = run.serial().frames().size();
    const long ticksBefore = cpuTicks(run.program().pid());
    const auto from = ChildProcess::Clock::now();
    run.collectFor(2s);
    const long ticksAfter = cpuTicks(run.program().pid());
    const double elapsedTicks = std::chrono::duration<double>(ChildProcess::Clock::now() - from).count() *
                                static_cast<double>(::sysconf(_SC_CLK_TCK));
    ASSERT_GE(ticksBefore, 0);
    EXPECT_LT(static_cast<double>(ticksAfter - ticksBefore), 0.1 * elapsedTicks)
        << "the program used the CPU while the receiver was gone";
    EXPECT_GE(run.serial().frames().size(), framesBefore + 2);
    const auto [status, took] = run.stop();
    EXPECT_EQ(status, 0);
    EXPECT_LT(took, 2s);
    run.checkSerialFrames();
}

struct OptionCase {
    const char* what;
    std::vector<std::string> args;
    int status;
    const char* stdoutPattern;  // whole output
    const char* stderrPattern;
};

TEST(ProgramOptions, HelpVersionAndBadOptions) {
    REQUIRE_BUILT();
    const OptionCase cases[] = {
        {"usage on stdout", {"--help"}, 0, R"(Usage: tidewell [\s\S]*--no-set-clock[\s\S]*)", ""},
        {"version", {"--version"}, 0, R"(Tidewell \d+\.\d+\.\d+\n)", ""},
        {"unknown option", {"--bogus"}, 2, "", R"(tidewell: unknown option: --bogus\nUsage: [\s\S]*)"},
        {"settings without a file", {"--headless", "--settings"}, 2, "",
         R"(tidewell: --settings needs a file name\n[\s\S]*)"},
        {"demo with settings", {"--demo", "--settings", "x.ini"}, 2, "", R"(tidewell: --demo [\s\S]*)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ChildProcess program(kProgram, c.args);
        EXPECT_EQ(program.waitExit(3000), c.status);
        EXPECT_TRUE(std::regex_match(program.stdoutText(), std::regex(c.stdoutPattern)))
            << program.stdoutText();
        const std::string err = program.stderrText();
        EXPECT_TRUE(std::regex_match(err, std::regex(c.stderrPattern))) << err;
    }
}

}  // namespace
}  // namespace tidewell
