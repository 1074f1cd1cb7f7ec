// The Linux program end to end, always --no-set-clock: nmea-sim as the receiver, a pty as the
// serial time display, a UDP socket on loopback as the network display; its report on
// standard output, its command line and its demo.
#include <gtest/gtest.h>

#include <sys/file.h>
#include <pwd.h>
#include <sys/syscall.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>

#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "child_process.h"

namespace tidewell {
namespace {

namespace fs = std::filesystem;
using testing::ChildProcess;
using testing::Clock;
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
// The zone stays this process's own: nothing here reads local time otherwise, and the program
// gets its zone in its environment.
std::string format(const char* pattern, time_t t, const std::string& zone = "UTC") {
    ::setenv("TZ", zone.c_str(), 1);
    ::tzset();
    tm fields{};
    ::localtime_r(&t, &fields);
    char text[64];
    std::strftime(text, sizeof text, pattern, &fields);
    return text;
}
// The line the program shows for an RMC stamped `stamp` (UTC, whole second).
std::string gpsLine(time_t stamp, const std::string& zone) {
    const time_t shown = stamp + 1;  // the receive advance
    return "gps: " + format("%d-%m-%Y   %-H:%M:%S", shown) +
           " | local: " + format("%-d/%-m/%y   %-H:%M:%S", shown, zone);
}

struct Received {
    std::string text;
    Wall::time_point at;
};

// The program on a settings file of its own in a folder removed afterwards, with a serial and
// a UDP display; everything it started dies with it.
struct ProgramRun {
    fs::path dir;
    testing::Pty serial;
    int udp = -1;
    std::string serialBytes;
    std::vector<Received> serialFrames, datagrams;
    std::optional<ChildProcess> program;
    std::size_t seen = 0;

    ProgramRun() {
        // Narrower than the program's own INADDR_ANY:16000, so this display wins.
        testing::boundUdp(udp, kDisplayAddress.c_str(), 16000);
        ::fcntl(udp, F_SETFL, O_NONBLOCK);
        std::string folder = (fs::temp_directory_path() / "tidewell-e2e-XXXXXX").string();
        if (!::mkdtemp(folder.data())) throw std::runtime_error("cannot make a folder");
        dir = folder;
    }
    ~ProgramRun() {
        program.reset();
        ::close(udp);
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    std::string settingsFile() const { return (dir / "Tidewell.ini").string(); }
    void start(const std::string& settings, const std::string& zone = "UTC") {
        std::ofstream(settingsFile()) << settings;
        program.emplace(
            kProgram,
            std::vector<std::string>{"--headless", "--no-set-clock", "--settings", settingsFile()},
            std::vector<std::string>{"TZ=" + zone, "HOME=" + dir.string(),
                                     "XDG_CONFIG_HOME=" + (dir / "config").string(),
                                     "XDG_RUNTIME_DIR=" + dir.string()});
    }

    // Reads the displays, and stdout unless told not to, until `done` or the wait ends.
    bool until(const std::function<bool()>& done, std::chrono::milliseconds wait,
               bool readStdout = true) {
        for (const auto deadline = Clock::now() + wait;;) {
            readDisplays();
            if (readStdout) program->pump();
            if (done()) return true;
            if (Clock::now() >= deadline) return false;
            pollfd fds[3] = {{serial.master(), POLLIN, 0},
                             {udp, POLLIN, 0},
                             {readStdout ? program->stdoutFd() : -1, POLLIN, 0}};
            ::poll(fds, 3, 100);
        }
    }
    // Until a new stdout line starts with `prefix`.
    bool untilLine(const std::string& prefix, std::chrono::milliseconds wait) {
        return until(
            [&] {
                for (; seen < program->lines().size(); ++seen)
                    if (program->lines()[seen].starts_with(prefix)) return ++seen, true;
                return false;
            },
            wait);
    }

    void readDisplays() {
        char buffer[2048];
        for (ssize_t n; (n = ::read(serial.master(), buffer, sizeof buffer)) > 0;)
            serialBytes.append(buffer, static_cast<std::size_t>(n));
        const auto now = Wall::now();
        for (auto i = serialFrames.size() * kFrameSize; i + kFrameSize <= serialBytes.size();
             i += kFrameSize)
            serialFrames.push_back({serialBytes.substr(i, kFrameSize), now});
        for (ssize_t n; (n = ::recv(udp, buffer, sizeof buffer, 0)) >= 0;)
            datagrams.push_back({std::string(buffer, static_cast<std::size_t>(n)), now});
    }

    std::vector<std::string> linesStartingWith(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& l : program->lines())
            if (l.starts_with(prefix)) out.push_back(l);
        return out;
    }
};

// nmea-sim dated `start`, one sentence a second; its first line names its pty.
std::vector<std::string> simArgs(time_t start, int count) {
    return {"--start", format("%Y-%m-%dT%H:%M:%S", start), "--rate", "1", "--count",
            std::to_string(count)};
}

double cpuSeconds(pid_t pid) {
    double ns = 0;
    std::ifstream("/proc/" + std::to_string(pid) + "/schedstat") >> ns;
    return ns / 1e9;
}

// UTC frames, the date set and UDP once per second in UTC; local frames, only the time set
// and UDP once per minute in Berlin.
class ProgramEndToEnd : public ::testing::TestWithParam<std::string> {};

// Three sentences from 23:58:58 UTC tomorrow (never before the build date, the build's local
// one): the program shows them and sets the clock at the one shown as 23:59:01; the
// simulator's exit unplugs the receiver. A second simulator, running meanwhile, is plugged in
// at the same path, and the program's retry opens it. The frames flow throughout. The first
// sentences of each may be gone before the program opens the port (it drops what was queued
// before the open).
TEST_P(ProgramEndToEnd, ShowsSetsTheClockSendsFramesAtTheirRatesAndOutlivesAnUnplug) {
    const std::string zone = GetParam();
    if (!fs::exists("/usr/share/zoneinfo/" + zone)) GTEST_SKIP() << "no " << zone << " zone here";
    const bool utc = zone == "UTC";
    const std::string udpRate = utc ? "once per second" : "once per minute";
    const time_t now = ::time(nullptr), start = now - now % 86400 + 86400 + 86338;
    ChildProcess sim(kSim, simArgs(start, 3)), replugged(kSim, simArgs(start + 3, 15));
    ProgramRun run;
    const fs::path gps = run.dir / "gps";
    fs::create_symlink(sim.line(0, 3000), gps);
    fs::create_symlink(replugged.line(0, 3000), run.dir / "replugged");
    std::ostringstream settings;
    settings << "[GPS]\nCOMPORT=COM1\nGPSDATE=" << utc << "\n[Ports]\nCOM1=" << gps.string()
             << "\nCOM2=" << run.serial.path() << "\n[SerialSync]\nSENDSYNC= 1\nCOMPORT=COM2\n"
             << "SERIALRATE=once per second\nTIMEUTC=" << (utc ? "True" : "False")
             << "\nTIMELOCAL=" << (utc ? "False" : "True") << "\n[UDP]\nSENDUDP= 1\n"
             << "UDPADDRESS=" << kDisplayAddress << "\nUDPRATE=" << udpRate
             << "\n[Analog]\nBATTERYSAVE= 1\n";
    run.start(settings.str(), zone);

    ASSERT_TRUE(run.untilLine("gps port: COM1 closed", 8s));
    const auto goneAt = Clock::now();
    const double cpuGone = cpuSeconds(run.program->pid());
    fs::rename(run.dir / "replugged", gps);  // at once: the freed pty is soon another test's
    ASSERT_TRUE(run.untilLine("gps port: COM1 open", 8s));
    const std::chrono::duration<double> gone = Clock::now() - goneAt;
    EXPECT_LT(cpuSeconds(run.program->pid()) - cpuGone, 0.2 * gone.count() + 0.02)
        << "the program used the CPU while the receiver was gone";
    ASSERT_TRUE(run.untilLine("gps: ", 3s));
    termios tio{};
    ASSERT_EQ(::tcgetattr(run.serial.slave(), &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8)) << "8N1";
    const auto stopping = Clock::now();
    EXPECT_EQ(run.program->waitExit(5000, SIGTERM), 0);
    EXPECT_LT(Clock::now() - stopping, 2s) << "SIGTERM: a clean, prompt exit";
    run.readDisplays();  // their last frames

    const auto& lines = run.program->lines();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(run.linesStartingWith("stopping").size(), 1u);
    EXPECT_EQ(std::vector(lines.begin(), lines.begin() + 5),
              (std::vector<std::string>{
                  "settings: " + run.settingsFile(),
                  "gps port: COM1 " + gps.string() + " open, sets " +
                      (utc ? "date and time" : "time only"),
                  "serial sync: on COM2 " + run.serial.path() + " open, once per second",
                  "udp sync: on to " + kDisplayAddress + ":16000, " + udpRate,
                  utc ? "frames: UTC, battery save" : "frames: local time, battery save"}));
    std::vector<std::string> expected, before, after;
    for (int i = 0; i < 18; ++i) expected.push_back(gpsLine(start + i, zone));
    const auto closed = std::find(lines.begin(), lines.end(), "gps port: COM1 closed");
    for (auto l = lines.begin(); l != lines.end(); ++l)
        if (l->find(" | local: ") != std::string::npos) (l < closed ? before : after).push_back(*l);
    if (before.size() == 2) before.insert(before.begin(), expected.front());
    EXPECT_EQ(before, std::vector(expected.begin(), expected.begin() + 3));
    const auto from = std::find(expected.begin() + 3, expected.end(), after.front());
    ASSERT_LE(after.size(), static_cast<std::size_t>(expected.end() - from)) << after.front();
    EXPECT_EQ(after, std::vector(from, from + static_cast<long>(after.size())));
    // The clock is set once, right after the sentence stamped second 00 is shown.
    const time_t set = start + 3;
    const std::string clock = "clock: would set " +
                              (utc ? "date " + format("%Y-%m-%d", set) + " and time " : "time ") +
                              format("%H:%M:%S", set, zone) + " (--no-set-clock)";
    EXPECT_EQ(run.linesStartingWith("clock: would"), std::vector<std::string>{clock});
    const auto at = std::find(lines.begin(), lines.end(), clock);
    EXPECT_TRUE(at != lines.end() && *(at - 1) == expected[2]);

    // Every serial frame whole, of the PC clock's second it was read in or the one before, one
    // a second; UTC frames carry the month first, local ones the day. Matched as wall time,
    // as local fields can name two instants. No battery save at hours 2 and 15.
    EXPECT_EQ(run.serialBytes.size() % kFrameSize, 0u) << "bytes beyond whole frames";
    EXPECT_GE(run.serialFrames.size(), 5u);
    const auto fields = [&](time_t t) {
        return format(utc ? "%S%M%H%m%d%Y" : "%S%M%H%d%m%Y", t, zone);
    };
    std::optional<time_t> previous;
    std::vector<std::string> shown;
    for (const auto& f : run.serialFrames) {
        const time_t read = Wall::to_time_t(f.at);
        const time_t second = f.text.substr(1, 14) == fields(read) ? read : read - 1;
        std::string frame =
            "*" + fields(second) + (utc ? "0000000001001000000#" : "         1  1      #");
        if (frame.substr(5, 2) == "02" || frame.substr(5, 2) == "15") frame[27] = frame[16];
        EXPECT_EQ(f.text, frame);
        EXPECT_TRUE(!previous || second == *previous + 1) << f.text << " not one a second";
        previous = second;
        shown.push_back("frame serial: " + f.text);
    }
    EXPECT_EQ(shown, run.linesStartingWith("frame serial: "));
    // The UDP display gets the serial frame of the same tick, at its own rate.
    std::vector<Received> due;
    for (const auto& f : run.serialFrames)
        if (utc || due.empty() || f.text.substr(1, 2) == "00") due.push_back(f);
    ASSERT_EQ(run.datagrams.size(), due.size());
    for (std::size_t i = 0; i < due.size(); ++i) {
        EXPECT_EQ(run.datagrams[i].text, due[i].text);
        EXPECT_LT(std::chrono::abs(run.datagrams[i].at - due[i].at), 300ms) << due[i].text;
    }
}

INSTANTIATE_TEST_SUITE_P(Zones, ProgramEndToEnd, ::testing::Values("UTC", "Europe/Berlin"),
                         [](const auto& info) { return info.param == "UTC" ? "Utc" : "Berlin"; });

// Start-up tells where the settings are and how odd values were read. Then a reader that
// stalls or leaves costs only lines: the frames go on and SIGTERM is heard.
// A receiver that sends 300 ms into each second of the PC clock, its times a day ahead: the
// time set is the sentence's second plus that delay plus the time since its first byte came,
// so the PC clock is found off by whole seconds, to the millisecond.
TEST(ProgramPrecise, SetsTheSentencesSecondPlusTheReceiversDelayToTheMillisecond) {
    const time_t now = ::time(nullptr), start = now - now % 86400 + 86400 + 86338;
    ChildProcess sim(
        kSim, {"--start", format("%Y-%m-%dT%H:%M:%S", start), "--delay", "300", "--count", "4"});
    ProgramRun run;
    run.start("[GPS]\nCOMPORT=COM1\nPRECISE= 1\nDELAYMS=300\n[Ports]\nCOM1=" + sim.line(0, 3000));
    ASSERT_TRUE(run.untilLine("clock: would", 8s));
    const std::string line = run.linesStartingWith("clock: would").front();
    int ms = -1;
    double was = 0;
    ASSERT_EQ(
        std::sscanf(line.c_str(), "clock: would set time 23:59:00.%3d (was %lf s)", &ms, &was), 2)
        << line;
    // The RMC's own 4800-baud transmission, about 150 ms, has passed since its first byte.
    EXPECT_GT(ms, 300 + 100) << line;
    EXPECT_LT(ms, 300 + 300) << line;
    // Loose for a loaded machine: the precision itself is scripts/bench.sh latency --precise's.
    EXPECT_LT(std::abs(was - std::round(was)), 0.05) << line;
    EXPECT_TRUE(line.ends_with(" s) (--no-set-clock)")) << line;
}

// At start the receiver's device is not there yet and the display's is held by another
// program: both are tried until they open, and each reason is told once.
TEST(ProgramPorts, APortThatDoesNotOpenAtStartIsTriedUntilItDoes) {
    ChildProcess sim(kSim, {});
    ProgramRun run;
    const fs::path gps = run.dir / "gps";
    const int held = ::open(run.serial.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    run.start("[UDP]\nUDPADDRESS=127.0.0.1\n[GPS]\nCOMPORT=COM1\n[SerialSync]\nSENDSYNC= 1\n"
              "COMPORT=COM2\n[Ports]\nCOM1=" + gps.string() + "\nCOM2=" + run.serial.path() + "\n");
    const std::string gpsLabel = "COM1 (" + gps.string() + ")";
    const std::string serialLabel = "COM2 (" + run.serial.path() + ")";
    ASSERT_TRUE(run.untilLine("gps port: " + gpsLabel + " cannot open: no such device; waiting for it", 5s));
    ASSERT_TRUE(run.untilLine("serial sync: " + serialLabel + " cannot open: busy: another program holds it", 1s));
    fs::create_symlink(sim.line(0, 3000), gps);
    ::close(held);
    ASSERT_TRUE(run.untilLine("gps port: COM1 open", 10s));
    ASSERT_TRUE(run.untilLine("serial sync: " + serialLabel + " open", 1s));
    ASSERT_TRUE(run.untilLine("gps: ", 3s));
    std::size_t told = 0;
    for (const auto& l : run.program->lines()) told += l.find("cannot open") != std::string::npos;
    EXPECT_EQ(told, 2u) << "a reason is told once";
}

// A program stopped for 7 s (SIGSTOP, as Ctrl-Z or a suspended machine) finds 70 simulated
// seconds waiting in the port: it shows them and sets nothing from them, then the next
// minute sets as usual.
TEST(ProgramStall, TheBacklogOfAStallIsShownAndSetsNothing) {
    const time_t now = ::time(nullptr), start = now - now % 86400 + 86400 + 3590;
    ChildProcess sim(kSim, {"--start", format("%Y-%m-%dT%H:%M:%S", start), "--rate", "10"});
    ProgramRun run;
    run.start("[UDP]\nUDPADDRESS=127.0.0.1\n[GPS]\nCOMPORT=COM1\n[Ports]\nCOM1=" +
              sim.line(0, 3000) + "\n");
    ASSERT_TRUE(run.untilLine("clock: would", 15s)) << "a live minute sets";
    ::kill(run.program->pid(), SIGSTOP);
    std::this_thread::sleep_for(7s);
    const std::size_t stopped = run.program->lines().size();
    ::kill(run.program->pid(), SIGCONT);
    const auto& lines = run.program->lines();
    const auto late = [&] {
        return std::find_if(lines.begin() + long(stopped), lines.end(), [](const std::string& l) {
            return l.ends_with("arrived late (backlog); the clock was not set from them");
        });
    };
    ASSERT_TRUE(run.until([&] { return late() != lines.end(); }, 5s));
    const std::vector backlog(lines.begin() + long(stopped), late());
    EXPECT_TRUE(std::any_of(backlog.begin(), backlog.end(), [](const std::string& l) {
        return l.starts_with("gps: ") && l.ends_with(":01");
    })) << "the backlog holds a minute's second 1";
    for (const auto& l : backlog) EXPECT_FALSE(l.starts_with("clock: would")) << l;
    ASSERT_TRUE(run.untilLine("clock: would", 10s)) << "the next minute sets";
}

// The real clock, whatever libfaketime makes of this process's own.
double realNow() {
    timespec now{};
    ::syscall(SYS_clock_gettime, CLOCK_REALTIME, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// The PC's clock a moment before local midnight, a little slow against the receiver: the
// sentence stamped 00:00:00 sets 00:00:01 of the new day, a step of about a second, not a day
// back. The program really calls clock_settime, but unprivileged and through a spy that only
// records it. Sentences come 60 a second, so that the minutes before midnight, one of which
// must be set first, pass in three seconds.
TEST(ProgramMidnight, SetsTheTimeOnTheNewDayWhileThePcStillShowsTheOldOne) {
    if (std::string(TIDEWELL_LIBFAKETIME).empty()) GTEST_SKIP() << "no libfaketime here";
    // Arguments to /usr/bin/env: without this process's libfaketime (whose shared state nobody
    // could open), and without any right to set the clock.
    std::vector<std::string> setpriv = {
        "-u", "LD_PRELOAD", "-u", "FAKETIME_SHARED", "/usr/bin/setpriv", "--no-new-privs", "--"};
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() == 0) {
        if (!nobody) GTEST_SKIP() << "no user nobody to run the program as";
        setpriv.insert(setpriv.begin() + 5, {"--reuid=" + std::to_string(nobody->pw_uid),
                                             "--regid=" + std::to_string(nobody->pw_gid),
                                             "--clear-groups", "--bounding-set=-all"});
    }
    const auto unprivileged = [&](std::vector<std::string> command) {
        command.insert(command.begin(), setpriv.begin(), setpriv.end());
        return command;
    };
    // The next New Year two days ahead or more: never before the build date.
    const std::string zone = "Europe/Berlin";
    const int year = std::stoi(format("%Y", time_t(realNow()) + 2 * 86400, zone)) + 1;
    tm midnight{};
    midnight.tm_mday = 1, midnight.tm_year = year - 1900, midnight.tm_isdst = -1;
    const time_t newDay = ::mktime(&midnight);  // format() left TZ at the zone

    ProgramRun run;
    ASSERT_TRUE(::geteuid() != 0 || ::chown(run.dir.c_str(), nobody->pw_uid, nobody->pw_gid) == 0);
    ChildProcess sim("/usr/bin/env",
                     unprivileged({kSim, "--start", format("%Y-%m-%dT%H:%M:%S", newDay - 180),
                                   "--rate", "60", "--count", "182"}));
    const std::string gps = sim.line(0, 3000);
    const double simStart = realNow();
    std::ofstream(run.settingsFile()) << "[UDP]\nUDPADDRESS=127.0.0.1\n[GPS]\nCOMPORT=COM1\n"
                                      << "[Ports]\nCOM1=" << gps << "\n";
    // Its clock 0.8 s before midnight as the sentence stamped 00:00:00, the 181st, goes out.
    char faketime[32];
    std::snprintf(faketime, sizeof faketime, "FAKETIME=%+.3f",
                  double(newDay) - 0.8 - (simStart + 181 / 60.0));
    const std::string spyFile = (run.dir / "clock_settime").string();
    const char* asan = std::getenv("ASAN_OPTIONS");
    run.program.emplace(
        "/usr/bin/env",
        unprivileged({"/usr/bin/env", "LD_PRELOAD=" TIDEWELL_CLOCK_SPY ":" TIDEWELL_LIBFAKETIME,
                      faketime, kProgram, "--headless", "--settings", run.settingsFile()}),
        std::vector<std::string>{
            "TZ=" + zone, "HOME=" + run.dir.string(),
            "XDG_CONFIG_HOME=" + (run.dir / "config").string(), "TIDEWELL_CLOCK_SPY=" + spyFile,
            // The spy comes before the sanitizers' runtime.
            std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0"});
    // Not killed, which would leave libfaketime's shared memory behind.
    EXPECT_TRUE(run.untilLine(gpsLine(newDay, zone), 8s)) << run.program->stderrText();
    EXPECT_EQ(sim.waitExit(3000), 0);
    EXPECT_EQ(run.program->waitExit(3000, SIGTERM), 0);

    long long askedMs = 0, atMs = 0;  // the last clock_settime call's
    std::ifstream spy(spyFile);
    for (long long a, b; spy >> a >> b;) askedMs = a, atMs = b;
    EXPECT_EQ(askedMs, (newDay + 1) * 1000LL) << "00:00:01 of the new day, not of the old";
    EXPECT_LT(atMs, newDay * 1000LL) << "the PC had already passed midnight: the case was not met";
    EXPECT_LT(std::abs(askedMs - atMs), 3000) << "ms, a step of a second or two";
}

// One copy a settings file: a second start with the same file says who runs and ends with 1
// (the first has no window to show); a start with another file runs beside.
TEST(ProgramInstances, OneCopyASettingsFile) {
    ProgramRun run;
    run.start("[UDP]\nUDPADDRESS=127.0.0.1\n");
    ASSERT_TRUE(run.untilLine("priority: ", 10s));
    const std::vector<std::string> env{"HOME=" + run.dir.string(),
                                       "XDG_RUNTIME_DIR=" + run.dir.string()};
    const auto second = [&](const std::string& settings, std::vector<std::string> more) {
        more.insert(more.end(), env.begin(), env.end());
        return std::make_unique<ChildProcess>(
            kProgram, std::vector<std::string>{"--no-set-clock", "--settings", settings}, more);
    };
    const auto headless = second(run.settingsFile(), {});
    EXPECT_EQ(headless->waitExit(10000), 1);
    EXPECT_EQ(headless->stderrText(), "tidewell: already running (PID " +
                                          std::to_string(run.program->pid()) + ") with settings " +
                                          run.settingsFile() + "\n");
    const std::string other = (run.dir / "Other.ini").string();
    std::ofstream(other) << "[UDP]\nUDPADDRESS=127.0.0.1\n";
    const auto beside = second(other, {});
    EXPECT_EQ(beside->line(0), "settings: " + other) << "another file runs beside";
    EXPECT_EQ(beside->waitExit(5000, SIGTERM), 0);
    const auto windowed = second(run.settingsFile(), {"DISPLAY=:99", "QT_QPA_PLATFORM=offscreen"});
    EXPECT_EQ(windowed->waitExit(10000), 1);
    EXPECT_TRUE(run.untilLine("window: ", 1s) == false) << "a headless program shows nothing";
}

TEST(ProgramReport, StartTellsTheSettingsAndOddValuesAndAStalledOrGoneReaderCostsOnlyLines) {
    for (const bool leaves : {false, true}) {
        SCOPED_TRACE(leaves ? "reader leaves after a line, as | head -1" : "reader stalls");
        ProgramRun run;
        run.start("[UDP]\nSENDUDP= 1\nUDPADDRESS=" + kDisplayAddress + "\nUDPRATE=hourly\n");
        ChildProcess& program = *run.program;
        EXPECT_EQ(program.line(0), "settings: " + run.settingsFile());
        EXPECT_EQ(program.line(1), R"(settings: [UDP] UDPrate "hourly" is not one of once per )"
                                   "second, once per minute, once per hour, once per day; read "
                                   "as once per second");
        const int out = program.stdoutFd();
        if (leaves) {
            const int nothing = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            ::dup3(nothing, out, O_CLOEXEC);  // closes the pipe's one read end
            ::close(nothing);
        } else {
            // A write end of the test's own fills the pipe, as a reader that stopped leaves it.
            const int in = ::open(("/proc/self/fd/" + std::to_string(out)).c_str(),
                                  O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            ASSERT_GE(in, 0);
            for (const std::string page(4096, '.'); ::write(in, page.data(), page.size()) > 0;) {
            }
            ::close(in);
        }
        // The first frame might go out before a blocked write of its line.
        run.readDisplays();
        const std::size_t sent = run.datagrams.size() + 2;
        EXPECT_TRUE(run.until([&] { return run.datagrams.size() >= sent; }, 3500ms, false))
            << "frames go on";
        EXPECT_EQ(program.waitExit(2000, SIGTERM, false), 0) << "SIGTERM is heard";
    }
}

// As systemd runs it: a notify socket (abstract) and a watchdog, standard output the journal's
// stream, LEVEL=events. Ready once started, pings while the loop turns and not while it is
// stopped, stopping at the end; only events, each with its priority.
TEST(ProgramService, NotifiesPingsOnlyWhileRunningAndLogsEventsWithPriorities) {
    const std::string name = "tidewell-test-" + std::to_string(::getpid());
    const int notify = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{AF_UNIX, {}};
    std::copy(name.begin(), name.end(), address.sun_path + 1);
    ASSERT_EQ(::bind(notify, reinterpret_cast<sockaddr*>(&address),
                     socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size())),
              0);
    std::vector<std::string> told;
    // Read as systemd does, at once: the socket's queue is short.
    const auto drain = [&] {
        char buffer[512];
        for (ssize_t n; (n = ::recv(notify, buffer, sizeof buffer, 0)) > 0;)
            told.emplace_back(buffer, std::size_t(n));
    };
    const auto heard = [&](const std::string& message, std::chrono::milliseconds wait) {
        for (const auto deadline = Clock::now() + wait; Clock::now() < deadline;) {
            drain();
            if (std::find(told.begin(), told.end(), message) != told.end()) return true;
            pollfd p{notify, POLLIN, 0};
            ::poll(&p, 1, 50);
        }
        return false;
    };
    // Its minute turns three seconds in; it stops sending after six.
    const time_t now = ::time(nullptr), start = now - now % 86400 + 86400 + 86337;
    ChildProcess sim(kSim, simArgs(start, 6));
    ProgramRun run;
    std::ofstream(run.settingsFile())
        << "[UDP]\nSENDUDP= 1\nUDPADDRESS=" << kDisplayAddress << "\nUDPRATE=once per second\n"
        << "[GPS]\nCOMPORT=COM1\nPRECISE=1\n[SerialSync]\nSENDSYNC= 1\nCOMPORT=COM2\n[Ports]\nCOM1="
        << sim.line(0, 3000) << "\nCOM2=" << (run.dir / "missing").string()
        << "\n[Log]\nLEVEL=events\n";
    run.program.emplace("/bin/sh",
                        std::vector<std::string>{
                            "-c", "JOURNAL_STREAM=$(stat -L -c %d:%i /proc/$$/fd/1) exec \"$@\"",
                            "sh", kProgram, "--headless", "--no-set-clock", "--settings",
                            run.settingsFile()},
                        std::vector<std::string>{"TZ=UTC", "HOME=" + run.dir.string(),
                                                 "NOTIFY_SOCKET=@" + name, "WATCHDOG_USEC=400000"});
    ChildProcess& program = *run.program;
    ASSERT_TRUE(heard("READY=1", 10s));
    told.clear();
    ASSERT_TRUE(heard("WATCHDOG=1", 2s));

    ::kill(program.pid(), SIGSTOP);
    for (std::string stat; stat.find(") T ") == std::string::npos;
         std::this_thread::sleep_for(10ms))
        std::getline(std::ifstream("/proc/" + std::to_string(program.pid()) + "/stat"), stat);
    told.clear();
    EXPECT_FALSE(heard("WATCHDOG=1", 1500ms)) << "a stopped loop pings";
    ::kill(program.pid(), SIGCONT);
    EXPECT_TRUE(heard("WATCHDOG=1", 5s)) << "no pings once the loop turns again";

    ASSERT_TRUE(run.until(
        [&] {
            drain();
            return !run.linesStartingWith("<4>gps: no valid time since ").empty();
        },
        20s));
    EXPECT_EQ(program.waitExit(5000, SIGTERM), 0);
    EXPECT_TRUE(heard("STOPPING=1", 1s));
    const auto& lines = program.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines[0].starts_with("<6>start: settings " + run.settingsFile() + "; gps port "));
    for (const std::string& l : lines) {
        EXPECT_TRUE(l.starts_with("<3>") || l.starts_with("<4>") || l.starts_with("<6>")) << l;
        EXPECT_FALSE(l.find(" | local: ") != std::string::npos || l.starts_with("<6>frame"))
            << "a line of each second: " << l;
    }
    for (const std::string& prefix :
         {"<3>serial sync: COM2 (" + (run.dir / "missing").string() + ") cannot open: ",
          std::string("<6>gps: valid time"), std::string("<6>clock: would set time "),
          std::string("<4>gps port: COM1 closed"), std::string("<6>stopping")})
        EXPECT_EQ(run.linesStartingWith(prefix).size(), 1u) << prefix;
    EXPECT_NE(run.linesStartingWith("<6>clock: would set")[0].find(" (was "), std::string::npos);
    ::close(notify);
}

// SIGHUP stops the program, unless it was started ignoring it (nohup).
TEST(ProgramSignals, HangUpStopsItUnlessStartedIgnoringIt) {
    for (const bool nohup : {false, true}) {
        SCOPED_TRACE(nohup ? "nohup" : "plain");
        std::vector<std::string> args{"--headless", "--no-set-clock", "--settings", ""};
        ProgramRun run;
        args.back() = run.settingsFile();
        std::ofstream(run.settingsFile()) << "[UDP]\nUDPADDRESS=127.0.0.1\n";
        if (nohup) args.insert(args.begin(), kProgram);
        ChildProcess program(nohup ? "/usr/bin/nohup" : kProgram, args);
        ASSERT_FALSE(program.line(0).empty());
        ::kill(program.pid(), SIGHUP);
        if (nohup) {
            EXPECT_EQ(program.waitExit(1000), -1) << "still running";
            EXPECT_EQ(program.waitExit(3000, SIGTERM), 0);
        } else {
            EXPECT_EQ(program.waitExit(3000), 0);
        }
    }
}

TEST(ProgramCommandLine, ExitStatusAndWhereEachMessageGoes) {
    const struct {
        const char* what;
        std::vector<std::string> args;
        int status;
        std::string out, err;  // how each starts; empty: nothing
    } rows[] = {
        {"help", {"--no-set-clock", "--help"}, 0, "Usage: tidewell [OPTIONS]\n", ""},
        {"version", {"--no-set-clock", "--version"}, 0, "Tidewell ", ""},
        {"unknown option", {"--no-set-clock", "--bogus"}, 2, "", "tidewell: unknown option: --bogus\nUsage: "},
        {"log level", {"--no-set-clock", "--log", "loud"}, 2, "", "tidewell: --log takes events or seconds\n"},
        {"missing settings folder",
         {"--no-set-clock", "--headless", "--settings", "/nonexistent/Tidewell.ini"},
         2,
         "",
         "tidewell: --settings /nonexistent/Tidewell.ini: the folder /nonexistent does not "
         "exist\n"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        ChildProcess program(kProgram, r.args);
        EXPECT_EQ(program.waitExit(3000), r.status);
        std::string out;
        for (const auto& line : program.lines()) out += line + "\n";
        for (const auto& [got, want] :
             {std::pair(out, r.out), std::pair(program.stderrText(), r.err)}) {
            EXPECT_TRUE(got.starts_with(want) && got.empty() == want.empty()) << got;
        }
    }
}

// Without a window `tidewell` hands over to a program that loads no Qt library, directly or
// through another; every other test here runs it that way.
TEST(ProgramHeadless, LoadsNoQtLibrary) {
    ChildProcess ldd("/usr/bin/ldd", {TIDEWELL_BINARY_DIR "/tidewell-headless"});
    ASSERT_EQ(ldd.waitExit(5000), 0) << ldd.stderrText();
    std::string libraries;
    for (const auto& line : ldd.lines()) libraries += line + "\n";
    EXPECT_NE(libraries.find("libc.so"), std::string::npos) << libraries;
    EXPECT_EQ(libraries.find("libQt"), std::string::npos) << libraries;
}

// A demo killed outright leaves its folder behind; the next demo removes it, but never the
// folder of a process that still runs.
TEST(ProgramDemo, RemovesFoldersLeftByKilledDemos) {
    ProgramRun run;  // for its folder, as TMPDIR
    const fs::path running = run.dir / ("tidewell-demo-" + std::to_string(::getpid()) + "-x");
    fs::create_directory(running);
    const auto demo = [&] {
        return std::make_unique<ChildProcess>(
            kProgram, std::vector<std::string>{"--headless", "--no-set-clock", "--demo"},
            std::vector<std::string>{"TMPDIR=" + run.dir.string()});
    };
    const auto folderOf = [](ChildProcess& demo) {
        return fs::path(demo.line(1).substr(std::string("settings: ").size())).parent_path();
    };
    const auto killed = demo();
    const fs::path left = folderOf(*killed);
    EXPECT_EQ(left.parent_path(), run.dir);
    EXPECT_TRUE(left.filename().string().starts_with("tidewell-demo-" +
                                                     std::to_string(killed->pid()) + "-"));
    killed->waitExit(2000, SIGKILL);
    ASSERT_TRUE(fs::exists(left));

    const auto next = demo();
    const fs::path own = folderOf(*next);
    EXPECT_FALSE(fs::exists(left));
    EXPECT_TRUE(fs::exists(running));
    EXPECT_EQ(next->waitExit(5000, SIGTERM), 0);
    EXPECT_FALSE(own.empty() || fs::exists(own));
}

}  // namespace
}  // namespace tidewell
