// The Linux program end to end, always --no-set-clock: nmea-sim as the receiver, a pty as the
// serial time display, a UDP socket on loopback as the network display; its report on
// standard output, its command line, its demo, its priority and its status.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <termios.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <ctime>
#include <functional>
#include <thread>

#include "child_process.h"
#include "temp_folder.h"

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
// Root may run the program's loop at real-time priority; setpriv takes the right away.
const bool kRoot = ::geteuid() == 0 && ::access("/usr/bin/setpriv", X_OK) == 0;
const std::vector<std::string> kWithoutRealTime =
    kRoot ? std::vector<std::string>{"/usr/bin/setpriv", "--inh-caps=-all",
                                     "--bounding-set=-sys_nice", "--"}
          : std::vector<std::string>{};

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

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines) text += l + "\n";
    return text;
}

struct Received {
    std::string text;
    Wall::time_point at;
};

// The program on a settings file of its own in a folder removed afterwards, with a serial and
// a UDP display, and a service's notify socket when given one; everything it started dies
// with it.
struct ProgramRun {
    testing::TempFolder folder;
    const fs::path dir = folder.root;
    testing::Pty serial;
    int udp = -1, notify = -1;
    std::string serialBytes;
    std::vector<Received> serialFrames, datagrams;
    std::vector<std::string> told;  // on the notify socket, read at once as systemd does
    std::optional<ChildProcess> program;
    std::size_t seen = 0;

    // Narrower than the program's own INADDR_ANY:16000, so this display wins. A test outside
    // the suite's lock on that port gives 0: a free one.
    explicit ProgramRun(int udpPort = 16000) {
        testing::boundUdp(udp, kDisplayAddress.c_str(), udpPort);
        ::fcntl(udp, F_SETFL, O_NONBLOCK);
    }
    ~ProgramRun() { program.reset(), ::close(udp), ::close(notify); }

    std::string settingsFile() const { return (dir / "Tidewell.ini").string(); }
    // `runner` starts the program (setpriv, a shell), `args` follow its own, `env` adds to its.
    void start(const std::string& settings, const std::string& zone = "UTC",
               std::vector<std::string> runner = {}, const std::vector<std::string>& args = {},
               std::vector<std::string> env = {}) {
        std::ofstream(settingsFile()) << settings;
        runner.insert(runner.end(),
                      {kProgram, "--headless", "--no-set-clock", "--settings", settingsFile()});
        runner.insert(runner.end(), args.begin(), args.end());
        env.insert(env.end(), {"TZ=" + zone, "HOME=" + dir.string(),
                               "XDG_CONFIG_HOME=" + (dir / "config").string(),
                               "XDG_RUNTIME_DIR=" + dir.string()});
        program.emplace(runner[0], std::vector(runner.begin() + 1, runner.end()), env);
    }

    // Reads the displays, and stdout unless told not to, until `done` or the wait ends.
    bool until(const std::function<bool()>& done, std::chrono::milliseconds wait,
               bool readStdout = true) {
        for (const auto deadline = Clock::now() + wait;;) {
            readDisplays();
            if (readStdout) program->pump();
            if (done()) return true;
            if (Clock::now() >= deadline) return false;
            pollfd fds[4] = {{serial.master(), POLLIN, 0}, {udp, POLLIN, 0}, {notify, POLLIN, 0},
                             {readStdout ? program->stdoutFd() : -1, POLLIN, 0}};
            ::poll(fds, 4, 100);
        }
    }
    // Until a new stdout line starts with `prefix`.
    bool untilLine(const std::string& prefix, std::chrono::milliseconds wait) {
        const auto found = [&] {
            while (seen < program->lines().size())
                if (program->lines()[seen++].starts_with(prefix)) return true;
            return false;
        };
        return until(found, wait);
    }

    void pause(std::chrono::milliseconds wait) { until([] { return false; }, wait); }
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
        for (ssize_t n; notify >= 0 && (n = ::recv(notify, buffer, sizeof buffer, 0)) > 0;)
            told.emplace_back(buffer, std::size_t(n));
    }

    std::vector<std::string> linesStartingWith(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& l : program->lines())
            if (l.starts_with(prefix)) out.push_back(l);
        return out;
    }
};

// nmea-sim dated `start`, one sentence a second; its first line names its pty.
std::vector<std::string> simArgs(time_t start, int count, std::vector<std::string> more = {}) {
    more.insert(more.begin(), {"--start", format("%Y-%m-%dT%H:%M:%S", start), "--rate", "1",
                               "--count", std::to_string(count)});
    return more;
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
// before the open). As root, its loop runs at real-time priority, said once.
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
    run.start("[UDP]\nUDPADDRESS=" + kDisplayAddress + "\nSENDUDP= 1\nUDPRATE=" + udpRate +
                  "\n[GPS]\nCOMPORT=COM1\nGPSDATE=" + std::to_string(utc) + "\n[Ports]\nCOM1=" +
                  gps.string() + "\nCOM2=" + run.serial.path() + "\n[SerialSync]\nSENDSYNC= 1\n" +
                  "COMPORT=COM2\nSERIALRATE=once per second\nTIMEUTC=" +
                  (utc ? "True\nTIMELOCAL=False" : "False\nTIMELOCAL=True") +
                  "\n[Analog]\nBATTERYSAVE= 1\n",
              zone);

    ASSERT_TRUE(run.untilLine("gps port: COM1 closed", 8s));
    const auto goneAt = Clock::now();
    const double cpuGone = cpuSeconds(run.program->pid());
    fs::rename(run.dir / "replugged", gps);  // at once: the freed pty is soon another test's
    ASSERT_TRUE(run.untilLine("gps port: COM1 open", 8s));
    const std::chrono::duration<double> gone = Clock::now() - goneAt;
    EXPECT_LT(cpuSeconds(run.program->pid()) - cpuGone, 0.2 * gone.count() + 0.02)
        << "the program used the CPU while the receiver was gone";
    ASSERT_TRUE(run.untilLine("gps: ", 3s));
    EXPECT_TRUE(!kRoot || ::sched_getscheduler(run.program->pid()) == SCHED_FIFO);
    termios tio{};
    EXPECT_TRUE(::tcgetattr(run.serial.slave(), &tio) == 0 && ::cfgetospeed(&tio) == B9600 &&
                (tio.c_cflag & (CSIZE | PARENB | CSTOPB)) == CS8)
        << "9600 8N1";
    EXPECT_EQ(run.program->waitExit(5000, SIGTERM), 0);
    run.readDisplays();  // their last frames

    const auto& lines = run.program->lines();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(run.linesStartingWith(kRoot ? "priority: real-time" : "priority").size(), 1u);
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
    const char* order = utc ? "%S%M%H%m%d%Y" : "%S%M%H%d%m%Y";
    std::optional<time_t> previous;
    std::vector<std::string> shown;
    for (const auto& f : run.serialFrames) {
        const time_t read = Wall::to_time_t(f.at);
        const time_t second = f.text.substr(1, 14) == format(order, read, zone) ? read : read - 1;
        std::string frame = "*" + format(order, second, zone) +
                            (utc ? "0000000001001000000#" : "         1  1      #");
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

// At start the receiver's device is not there yet and the display's is held by another
// program: both are tried until they open, each reason told once. Then the program is stopped
// for 7 s (SIGSTOP, as Ctrl-Z or a suspended machine) and finds 70 simulated seconds waiting
// in the port: it shows them and sets nothing from them; the next minute sets as usual. As
// root without the right to real-time scheduling (CAP_SYS_NICE dropped) it stays as it was and
// says so once.
TEST(ProgramPorts, AreTriedUntilTheyOpenAndTheBacklogOfAStallSetsNothing) {
    const time_t now = ::time(nullptr), start = now - now % 86400 + 86400 + 3590;
    ChildProcess sim(kSim, {"--start", format("%Y-%m-%dT%H:%M:%S", start), "--rate", "10"});
    ProgramRun run;
    const fs::path gps = run.dir / "gps";
    const int held = ::open(run.serial.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    run.start("[UDP]\nUDPADDRESS=127.0.0.1\n[GPS]\nCOMPORT=COM1\n[SerialSync]\nSENDSYNC= 1\n"
              "COMPORT=COM2\n[Ports]\nCOM1=" + gps.string() + "\nCOM2=" + run.serial.path() + "\n",
              "UTC", kWithoutRealTime);
    const std::string serial = "serial sync: COM2 (" + run.serial.path() + ")";
    ASSERT_TRUE(run.untilLine("gps port: COM1 (" + gps.string() +
                                  ") cannot open: no such device; waiting for it", 5s));
    ASSERT_TRUE(run.untilLine(serial + " cannot open: busy: another program holds it", 1s));
    fs::create_symlink(sim.line(0, 3000), gps);
    ::close(held);
    ASSERT_TRUE(run.untilLine("gps port: COM1 open", 10s));
    ASSERT_TRUE(run.untilLine(serial + " open", 1s));
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
    EXPECT_TRUE(!kRoot || ::sched_getscheduler(run.program->pid()) == SCHED_OTHER);
    std::size_t told = 0;
    for (const auto& l : lines) told += l.find("cannot open") != std::string::npos;
    EXPECT_EQ(told, 2u) << "a reason is told once";
    EXPECT_EQ(run.linesStartingWith(kRoot ? "priority: normal" : "priority").size(), 1u);
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
    std::ofstream(run.settingsFile()) << "[UDP]\nUDPADDRESS=127.0.0.1\n[GPS]\nCOMPORT=COM1\n"
                                      << "[Ports]\nCOM1=" << sim.line(0, 3000) << "\n";
    const double simStart = realNow();
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
// (the first has no window to show); a start with another file runs beside. A hang-up stops
// the program, unless it was started ignoring it (nohup).
TEST(ProgramInstances, OneCopyASettingsFileAndAHangUpStopsItUnlessIgnored) {
    ProgramRun run;
    run.start("[UDP]\nUDPADDRESS=127.0.0.1\n");
    ASSERT_TRUE(run.untilLine("priority: ", 10s));
    const std::vector<std::string> env{"HOME=" + run.dir.string(),
                                       "XDG_RUNTIME_DIR=" + run.dir.string()};
    ChildProcess headless(kProgram, {"--no-set-clock", "--settings", run.settingsFile()}, env);
    EXPECT_EQ(headless.waitExit(10000), 1);
    EXPECT_EQ(headless.stderrText(), "tidewell: already running (PID " +
                                         std::to_string(run.program->pid()) + ") with settings " +
                                         run.settingsFile() + "\n");
    ChildProcess windowed(kProgram, {"--no-set-clock", "--settings", run.settingsFile()},
                          {env[0], env[1], "DISPLAY=:99", "QT_QPA_PLATFORM=offscreen"});
    EXPECT_EQ(windowed.waitExit(10000), 1);
    EXPECT_FALSE(run.untilLine("window: ", 1s)) << "a headless program shows nothing";
    const std::string other = (run.dir / "Other.ini").string();
    std::ofstream(other) << "[UDP]\nUDPADDRESS=127.0.0.1\n";
    ChildProcess beside("/usr/bin/nohup", {kProgram, "--no-set-clock", "--settings", other}, env);
    EXPECT_EQ(beside.line(0), "settings: " + other) << "another file runs beside";
    ::kill(beside.pid(), SIGHUP);
    EXPECT_EQ(run.program->waitExit(3000, SIGHUP), 0) << "a hang-up stops it";
    EXPECT_EQ(beside.waitExit(1000), -1) << "nohup: still running";
    EXPECT_EQ(beside.waitExit(3000, SIGTERM), 0);
}

// Start-up tells where the settings are and how odd values were read. Then a reader that
// stalls or leaves costs only lines: the frames go on and SIGTERM is heard.
TEST(ProgramReport, StartTellsTheSettingsAndOddValuesAndAStalledOrGoneReaderCostsOnlyLines) {
    for (const bool leaves : {false, true}) {
        SCOPED_TRACE(leaves ? "reader leaves after a line, as | head -1" : "reader stalls");
        ProgramRun run;
        run.start("[UDP]\nSENDUDP= 1\nUDPADDRESS=" + kDisplayAddress + "\nUDPRATE=hourly\n");
        EXPECT_EQ(run.program->line(1),
                  R"(settings: [UDP] UDPrate "hourly" is not one of once per second, once per )"
                  "minute, once per hour, once per day; read as once per second");
        const int out = run.program->stdoutFd();
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
        EXPECT_EQ(run.program->waitExit(2000, SIGTERM, false), 0) << "SIGTERM is heard";
    }
}

// As systemd runs it: a notify socket (abstract) and a watchdog, standard output the journal's
// stream, LEVEL=events. Ready once started, pings while the loop turns and not while it is
// stopped, stopping at the end; only events, each with its priority. The receiver sends 300 ms
// into each second of the PC clock, its times a day ahead: PRECISE=1 sets the sentence's
// second plus that delay plus the time since its first byte came, so the PC clock is found
// off by whole seconds, to the millisecond.
TEST(ProgramService, NotifiesPingsOnlyWhileRunningLogsEventsWithPrioritiesAndSetsPrecisely) {
    ProgramRun run;
    const std::string name = "tidewell-test-" + std::to_string(::getpid());
    run.notify = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{AF_UNIX, {}};
    std::copy(name.begin(), name.end(), address.sun_path + 1);
    ASSERT_EQ(0, ::bind(run.notify, reinterpret_cast<sockaddr*>(&address),
                        socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size())));
    const auto heard = [&](const std::string& message, std::chrono::milliseconds wait) {
        return run.until([&] { return std::ranges::count(run.told, message) > 0; }, wait);
    };
    // Its minute turns three seconds in; it stops sending after six.
    const time_t now = ::time(nullptr), start = now - now % 86400 + 86400 + 86337;
    ChildProcess sim(kSim, simArgs(start, 6, {"--delay", "300"}));
    const fs::path gps = run.dir / "gps";
    fs::create_symlink(sim.line(0, 3000), gps);
    run.start("[UDP]\nSENDUDP= 1\nUDPADDRESS=" + kDisplayAddress + "\nUDPRATE=once per second\n"
              "[GPS]\nCOMPORT=COM1\nPRECISE=1\nDELAYMS=300\n[SerialSync]\nSENDSYNC= 1\n"
              "COMPORT=COM2\n[Ports]\nCOM1=" + gps.string() + "\nCOM2=" +
                  (run.dir / "missing").string() + "\n[Log]\nLEVEL=events\n",
              "UTC",
              {"/bin/sh", "-c", "JOURNAL_STREAM=$(stat -L -c %d:%i /proc/$$/fd/1) exec \"$@\"",
               "sh"},
              {}, {"NOTIFY_SOCKET=@" + name, "WATCHDOG_USEC=400000"});
    ASSERT_TRUE(heard("READY=1", 10s));
    run.told.clear();
    ASSERT_TRUE(heard("WATCHDOG=1", 2s));
    ASSERT_TRUE(run.untilLine("<4>gps port: COM1 closed", 15s));
    // Before the next try to reopen it: the pty's number may go to another test's receiver.
    fs::remove(gps);

    ::kill(run.program->pid(), SIGSTOP);
    for (std::string stat; stat.find(") T ") == std::string::npos;
         std::this_thread::sleep_for(10ms))
        std::getline(std::ifstream("/proc/" + std::to_string(run.program->pid()) + "/stat"), stat);
    run.told.clear();
    EXPECT_FALSE(heard("WATCHDOG=1", 1500ms)) << "a stopped loop pings";
    ::kill(run.program->pid(), SIGCONT);
    EXPECT_TRUE(heard("WATCHDOG=1", 5s)) << "no pings once the loop turns again";

    ASSERT_TRUE(run.untilLine("<4>gps: no valid time since ", 20s));
    EXPECT_EQ(run.program->waitExit(5000, SIGTERM), 0);
    EXPECT_TRUE(heard("STOPPING=1", 1s));
    EXPECT_TRUE(run.program->line(0).starts_with("<6>start: settings " + run.settingsFile()));
    for (const std::string& l : run.program->lines()) {
        EXPECT_TRUE(l.starts_with("<3>") || l.starts_with("<4>") || l.starts_with("<6>")) << l;
        EXPECT_FALSE(l.find(" | local: ") != std::string::npos || l.starts_with("<6>frame"))
            << "a line of each second: " << l;
    }
    for (const std::string& prefix :
         {"<3>serial sync: COM2 (" + (run.dir / "missing").string() + ") cannot open: ",
          std::string("<6>gps: valid time"), std::string("<6>clock: would set time "),
          std::string("<4>gps port: COM1 closed"), std::string("<6>stopping")})
        EXPECT_EQ(run.linesStartingWith(prefix).size(), 1u) << prefix;
    const std::string set = run.linesStartingWith("<6>clock: would set time ").at(0);
    int ms = -1;
    double was = 0;
    ASSERT_EQ(2, std::sscanf(set.c_str(), "<6>clock: would set time 23:59:00.%3d (was %lf s)",
                             &ms, &was))
        << set;
    // The RMC's own 4800-baud transmission, about 150 ms, has passed since its first byte.
    EXPECT_TRUE(ms > 300 + 100 && ms < 300 + 300) << set;
    // Loose for a loaded machine: the precision itself is scripts/bench.sh latency --precise's.
    EXPECT_LT(std::abs(was - std::round(was)), 0.05) << set;
    EXPECT_TRUE(set.ends_with(" s) (--no-set-clock)")) << set;
}

// Each message on its stream with its exit status; without a window the program loads no Qt
// library, directly or through another (every other test here runs it that way).
TEST(ProgramCommandLine, ExitStatusWhereEachMessageGoesAndNoQtWithoutAWindow) {
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out, err;  // how each starts; empty: nothing
    } rows[] = {
        {{"--help"}, 0, "Usage: tidewell [OPTIONS]\n", ""},
        {{"--bogus"}, 2, "", "tidewell: unknown option: --bogus\nUsage: "},
        {{"--headless", "--settings", "/nonexistent/T.ini"}, 2, "",
         "tidewell: --settings /nonexistent/T.ini: the folder /nonexistent does not exist\n"},
    };
    for (auto r : rows) {
        SCOPED_TRACE(r.args.back());
        r.args.insert(r.args.begin(), "--no-set-clock");
        ChildProcess program(kProgram, r.args);
        EXPECT_EQ(program.waitExit(3000), r.status);
        for (const auto& [got, want] : {std::pair(joined(program.lines()), r.out),
                                        std::pair(program.stderrText(), r.err)})
            EXPECT_TRUE(got.starts_with(want) && got.empty() == want.empty()) << got;
    }
    ChildProcess ldd("/usr/bin/ldd", {TIDEWELL_BINARY_DIR "/tidewell-headless"});
    ASSERT_EQ(ldd.waitExit(5000), 0) << ldd.stderrText();
    const std::string libraries = joined(ldd.lines());
    EXPECT_TRUE(libraries.find("libc.so") != std::string::npos &&
                libraries.find("libQt") == std::string::npos)
        << libraries;
}

// A demo killed outright leaves its folder behind; the next demo removes it, but never the
// folder of a process that still runs; a demo stopped cleanly removes its own.
TEST(ProgramDemo, RemovesFoldersLeftByKilledDemos) {
    testing::TempFolder tmp;  // as TMPDIR
    const fs::path running = tmp.root / ("tidewell-demo-" + std::to_string(::getpid()) + "-x");
    fs::create_directory(running);
    fs::path left;
    for (const int stop : {SIGKILL, SIGTERM}) {
        ChildProcess demo(kProgram, {"--headless", "--no-set-clock", "--demo"},
                          {"TMPDIR=" + tmp.root.string()});
        const fs::path own =
            fs::path(demo.line(1).substr(std::string("settings: ").size())).parent_path();
        EXPECT_EQ(own.parent_path(), tmp.root);
        EXPECT_FALSE(!left.empty() && fs::exists(left)) << "the killed demo's folder is removed";
        EXPECT_TRUE(fs::exists(running));
        EXPECT_EQ(demo.waitExit(5000, stop), stop == SIGKILL ? -1 : 0);
        EXPECT_EQ(fs::exists(own), stop == SIGKILL);
        left = own;
    }
}

int connected(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{AF_UNIX, {}};
    path.copy(a.sun_path, sizeof a.sun_path - 1);
    return ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? fd : (::close(fd), -1);
}

// Everything up to the end, or up to 20 s of silence.
std::string answer(int fd) {
    std::string text;
    for (std::string got; !(got = testing::readSome(fd, 20'000)).empty();) text += got;
    return text;
}

// `tidewell --status ARGS` against `socket`: its exit status and what it printed.
std::pair<int, std::string> askStatus(const std::string& socket,
                                      std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"--status", "--status-socket", socket});
    ChildProcess client(kProgram, args);
    const int status = client.waitExit(20'000);
    return {status, joined(client.lines()) + client.stderrText()};
}

// The second a UTC frame "*ssmmhhMMDDYYYY..." carries.
time_t frameSecond(const std::string& frame) {
    std::tm t{};
    ::strptime(frame.substr(1, 14).c_str(), "%S%M%H%m%d%Y", &t);
    return ::timegm(&t);
}

// A receiver with some bad sentences, both outputs on. The status names every part; then 1 MB
// requests, silent clients, 100 at once and random bytes go on while the frames keep their
// seconds; another user is refused by the socket's own mode; the metrics file the program
// leaves agrees with its last status.
TEST(StatusOfTheProgram, TellsEveryPartStaysOnTimeUnderAbuseAndItsMetricsAgree) {
    if (std::system("/usr/bin/python3 -c 'import prometheus_client' 2>/dev/null") != 0)
        GTEST_SKIP() << "no python3-prometheus-client (scripts/deps.sh installs it)";
    auto sim = std::make_unique<ChildProcess>(
        kSim, std::vector<std::string>{"--void", "4", "--bad-checksum", "5"});
    ProgramRun run;
    fs::permissions(run.dir, fs::perms::others_exec, fs::perm_options::add);  // for nobody
    const std::string gps = sim->line(0, 3000), socket = (run.dir / "status").string();
    run.start("[UDP]\nUDPADDRESS=" + kDisplayAddress +
                  "\nSENDUDP= 1\nUDPRATE=once per second\n"
                  "[GPS]\nCOMPORT=COM1\n[SerialSync]\nSENDSYNC= 1\nCOMPORT=COM2\n"
                  "SERIALRATE=once per second\nTIMEUTC=True\n[Ports]\nBAUD=auto\nCOM1=" +
                  gps + "\nCOM2=" + run.serial.path() + "\n[Status]\nMETRICS=metrics.prom\n",
              "UTC", {}, {"--status-socket", socket});
    ASSERT_TRUE(run.untilLine("gps port: COM1 at 4800 baud (BAUD=auto)", 15s));
    ASSERT_TRUE(run.untilLine("gps: ", 5s));
    const auto firstTime = Clock::now();
    run.pause(2s);

    struct stat st {};
    EXPECT_TRUE(::stat(socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) &&
                (st.st_mode & 0777) == 0660)
        << std::oct << st.st_mode;
    auto [status, text] = askStatus(socket);
    EXPECT_EQ(status, 0) << text;
    for (const std::string& item : std::vector<std::string>{
             "tidewell: ok\n",
             "\nreceiver:     COM1 (" + gps + "), open, 4800 baud (found by BAUD=auto)\n",
             "\n  state:      valid; last valid sentence ", "\n  phase:      RMC first byte ",
             "\nclock:        set once a minute, whole second + 1 s advance (--no-set-clock: never "
             "changed)\n",
             "\n  last set:   ", "\n  refused:    never\n",
             "\nserial sync:  on, COM2 (" + run.serial.path() + "), once per second; ",
             "\nudp sync:     on, to " + kDisplayAddress + ":16000, once per second; ",
             "\nsettings:     " + run.settingsFile() + "; "})
        EXPECT_NE(text.find(item), std::string::npos) << item << " in\n" << text;

    // Abuse, with a thread of its own so the frames are read meanwhile.
    std::vector<std::string> answers;
    std::atomic<bool> abused = false;
    std::thread abuse([&] {
        const int big = connected(socket);
        const std::string mb(1 << 20, 'x');
        std::size_t sent = 0;
        for (ssize_t n; sent < mb.size() &&
                        (n = ::send(big, mb.data() + sent, mb.size() - sent, MSG_NOSIGNAL)) > 0;)
            sent += std::size_t(n);
        answers.push_back(answer(big)), ::close(big);
        const int silent = connected(socket);
        answers.push_back(answer(silent)), ::close(silent);
        std::vector<int> many(100);
        std::mt19937 random(1);
        for (int& fd : many) fd = connected(socket);
        for (std::size_t i = 0; i < many.size(); ++i) {  // every other one random bytes
            std::string request(i % 2 ? std::uniform_int_distribution(1, 300)(random) : 0, '\0');
            for (char& c : request) c = char(random());
            if (request.empty()) request = "status\n";
            ::send(many[i], request.data(), request.size(), MSG_NOSIGNAL);
        }
        for (const int fd : many) answers.push_back(answer(fd)), ::close(fd);
        abused = true;
    });
    run.readDisplays();
    const std::size_t before = run.datagrams.size();
    run.until([&] { return abused.load(); }, 200s);
    abuse.join();
    run.pause(1500ms);
    ASSERT_GE(run.datagrams.size(), before + 2);
    for (std::size_t i = before + 1; i < run.datagrams.size(); ++i)
        EXPECT_EQ(frameSecond(run.datagrams[i].text), frameSecond(run.datagrams[i - 1].text) + 1)
            << "a frame a second throughout";
    EXPECT_EQ(answers[1], "error: no request within 2 s\n") << "the silent client";
    std::size_t ok = 0;
    for (std::size_t i = 2; i < answers.size(); ++i) {
        ok += answers[i].starts_with("tidewell: ok\n");
        EXPECT_TRUE(answers[i].starts_with("tidewell: ") || answers[i].starts_with("error: "))
            << answers[i];
    }
    EXPECT_GE(ok, 1u);

    ChildProcess nobody("/usr/bin/setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                             kProgram, "--status", "--status-socket", socket});
    EXPECT_EQ(nobody.waitExit(20'000), 3);
    EXPECT_NE(nobody.stderrText().find("Permission denied"), std::string::npos);

    // The receiver goes after a dozen RMC sentences, some of each kind; its counts stop. The
    // file the program leaves as it stops agrees.
    run.until([&] { return Clock::now() >= firstTime + 12s; }, 12s);
    sim.reset();
    ASSERT_TRUE(run.untilLine("gps port: COM1 closed", 10s));
    std::tie(status, text) = askStatus(socket, {"--json"});
    EXPECT_EQ(status, 0) << text;
    EXPECT_EQ(run.program->waitExit(5000, SIGTERM), 0);
    ChildProcess python("/usr/bin/python3", {"-c", R"(
import json, sys
from prometheus_client.parser import text_string_to_metric_families as families
m = {(s.name, tuple(s.labels.items())): s.value
     for f in families(open(sys.argv[1]).read()) for s in f.samples}
d = json.loads(sys.argv[2])
want = {('tidewell_up', ()): 0, ('tidewell_build_info', (('version', d['version']),)): 1}
for k, v in d['receiver']['sentences_total'].items():
    want[('tidewell_gps_sentences_total', (('result', k),))] = v
for k in ('set', 'refused'):
    want[('tidewell_clock_updates_total', (('result', k),))] = d['clock']['updates_' + k]
for k in ('serial', 'udp'):
    want[('tidewell_frames_failed_total', (('output', k),))] = d['outputs'][k]['frames_failed']
    sent = m[('tidewell_frames_sent_total', (('output', k),))] - d['outputs'][k]['frames_sent']
    print(k, 'frames after the status:', 'a few' if 0 <= sent <= 3 else sent)
print([(k, m.get(k), v) for k, v in want.items() if m.get(k) != v], len(m),
      d['receiver']['sentences_total']['status_v'] > 0, d['receiver']['sentences_total']['checksum'] > 0)
)", (run.dir / "metrics.prom").string(), text});
    python.waitExit(30'000);
    EXPECT_EQ(joined(python.lines()) + python.stderrText(),
              "serial frames after the status: a few\n"
              "udp frames after the status: a few\n[] 16 True True\n");
}

// No program: told so. A receiver that sends only status V: degraded once a minute has passed
// without valid time, and the answer says why.
TEST(StatusOfTheProgram, NoProgramIsToldAndAReceiverWithoutAFixIsDegradedAfterAMinute) {
    ProgramRun run(0);  // outside the lock on port 16000, sending nothing
    const std::string socket = (run.dir / "status").string();
    auto [status, text] = askStatus(socket);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(text, "tidewell is not running (no status socket at " + socket + ")\n");

    ChildProcess sim(kSim, {"--void", "1"});
    run.start("[UDP]\nUDPADDRESS=127.0.0.1\nSENDUDP= 0\n[GPS]\nCOMPORT=COM1\n[Ports]\nCOM1=" +
                  sim.line(0, 3000) + "\n",
              "UTC", {}, {"--status-socket", socket});
    ASSERT_TRUE(run.untilLine("priority: ", 10s));
    for (const auto end = Clock::now() + 150s; Clock::now() < end; run.pause(2s))
        if (std::tie(status, text) = askStatus(socket); status != 0) break;
    EXPECT_EQ(status, 1) << text;
    EXPECT_TRUE(text.starts_with("tidewell: degraded: no valid time for 1 min ")) << text;
    EXPECT_NE(text.find("no valid fix (status V)"), std::string::npos) << text;
}

}  // namespace
}  // namespace tidewell
