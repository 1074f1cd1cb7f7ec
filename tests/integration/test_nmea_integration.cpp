// The devices on real pseudo-terminals and sockets: the receiver fed by the logs and read on
// the loop, the serial display, UDP broadcast in a network namespace of its own; and the tools
// that check them (nmea-check against nmea-sim, sync-listen).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "broadcast/sync_frame.h"
#include "child_process.h"
#include "devices/nmea_receiver.h"
#include "devices/receiver_watch.h"
#include "devices/serial_port.h"
#include "devices/udp_socket.h"
#include "gps/date_value.h"
#include "nmea_logs.h"
#include "platform/error.h"
#ifdef TIDEWELL_LINUX_LOOP
#include "app/linux/event_loop_linux.h"
#endif

namespace tidewell {
namespace {

using testing::ChildProcess;
using testing::Clock;
using testing::Pty;
using namespace std::chrono_literals;

const std::string kTools = TIDEWELL_BINARY_DIR "/tools/";
const std::string kEndMark = "\r\n" + testing::withChecksum("PTWEND") + "\r\n";

// COM1 on `path`, as the receiver, recording what it delivers, and as the serial display.
struct Com1 {
    std::string path;
    PortNmeaReceiver receiver{[this](int) { return path; }, testing::kAnyDate};
    LineSerialPort display{[this](int) { return path; }};
    std::vector<std::string> rmcUtc;
    std::string last;  // the last sentence's type
    std::size_t wakes = 0;

    explicit Com1(std::string device) : path(std::move(device)) {
        receiver.PortNumber = display.CommPort = 1;
        receiver.SentenceReceived = [this](const NmeaSentence& s) {
            if ((last = s.TypeID) == "RMC" && s.utc) rmcUtc.push_back(formatUtcMillis(*s.utc));
        };
    }

    // Reads until the end mark, a hang-up or the timeout, meanwhile writing `bytes` into
    // `master`. True when the end mark came.
    bool serve(std::string_view bytes, int master, std::chrono::milliseconds timeout) {
        for (const auto deadline = Clock::now() + timeout;
             last != "PTWEND" && receiver.isOpen() && Clock::now() < deadline;) {
            pollfd fds[2] = {{int(receiver.readHandle()), POLLIN, 0},
                             {bytes.empty() ? -1 : master, POLLOUT, 0}};
            ::poll(fds, 2, 50);
            if (fds[1].revents & POLLOUT) {
                const ssize_t n =
                    ::write(master, bytes.data(), std::min<std::size_t>(bytes.size(), 512));
                if (n > 0) bytes.remove_prefix(static_cast<std::size_t>(n));
            }
            if (fds[0].revents) ++wakes, receiver.handleReadable();
        }
        return last == "PTWEND";
    }
};

// The number and text of the error `act` raises; 0 and "none" when it raises none.
std::pair<int, std::string> raised(const std::function<void()>& act) {
    try {
        act();
    } catch (const Error& e) {
        return {e.number(), e.description()};
    }
    return {0, "none"};
}

// The read system calls this process has made.
std::uint64_t readCalls() {
    std::ifstream io("/proc/self/io");
    std::uint64_t value = 0;
    for (std::string key; io >> key >> value && key != "syscr:";) continue;
    return value;
}

// Each wake-up costs one read that takes all there is, not a second one only to hear EAGAIN:
// a byte-paced line wakes the reader for about every byte.
TEST(NmeaLogs, EveryLogDecodesAsExpectedThroughAPtyWithOneReadPerWakeUp) {
    for (const auto& log : testing::nmeaLogs()) {
        SCOPED_TRACE(log.filename().string());
        const auto expected = testing::expectedDeliveries(log);
        const std::string bytes = testing::readBytes(log) + kEndMark;
        Pty pty;
        Com1 gps(pty.path());
        gps.receiver.OpenPort();
        const auto reads = readCalls();
        ASSERT_TRUE(gps.serve(bytes, pty.master(), 20s));
        // A few more for reading /proc/self/io itself.
        EXPECT_LE(readCalls() - reads, gps.wakes + 3);
        EXPECT_EQ(gps.rmcUtc, expected);
    }
}

// An RMC of second 10 + i.
std::string sentence(int i) {
    return testing::withChecksum("GPRMC,1200" + std::to_string(10 + i) +
                                 ".00,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W,A") +
           "\r\n";
}

#ifdef TIDEWELL_LINUX_LOOP
// The receiver read on the loop without a window from a line written a byte at a time at 4800
// baud's pace, as a UART hands bytes over: the loop wakes about once a sentence, not once a
// byte, and a sentence's first byte after a quiet line is stamped when it came. A faster line
// is never left alone.
TEST(ReceiverWatch, ABytePacedLineWakesTheLoopOnceASentenceAndAFasterOneIsNeverLeftAlone) {
    constexpr int kSentences = 5;
    constexpr auto kCharTime = 10'000'000'000ns / 4800;
    Pty pty;
    Com1 gps(pty.path());
    gps.receiver.OpenPort();
    LinuxEventLoop loop;
    ReceiverWatch watch(gps.receiver, loop);
    watch.follow();
    std::vector<Clock::time_point> stamps, written(kSentences);
    gps.receiver.SentenceReceived = [&](const NmeaSentence& s) {
        stamps.push_back(s.arrived);
        if (stamps.size() == kSentences) loop.quit(0);
    };
    std::size_t bytes = 0;
    std::thread writer([&] {
        for (int i = 0; i < kSentences; ++i) {
            std::this_thread::sleep_for(50ms);  // a quiet line
            const std::string text = sentence(i);
            auto next = written[i] = Clock::now();
            for (char c : text) {
                std::this_thread::sleep_until(next);
                if (::write(pty.master(), &c, 1) != 1) return;
                next += kCharTime;
            }
            bytes += text.size();
        }
    });
    const auto giveUp = loop.after(10'000, [&] { loop.quit(1); });
    rusage before{}, after{};  // the wake-ups are voluntary context switches
    ::getrusage(RUSAGE_THREAD, &before);
    const int status = loop.run();
    ::getrusage(RUSAGE_THREAD, &after);
    writer.join();
    ASSERT_EQ(status, 0);
    ASSERT_EQ(stamps.size(), std::size_t(kSentences));
    // About three a sentence (its '$', the rest, the line end's last byte) against about 75.
    EXPECT_LT(after.ru_nvcsw - before.ru_nvcsw, long(bytes / 5)) << bytes << " bytes";
    // Ten times what scripts/bench.sh latency --precise sees on a loaded machine.
    for (int i = 0; i < kSentences; ++i) {
        EXPECT_GE(stamps[i], written[i]);
        EXPECT_LT(stamps[i] - written[i], 30ms) << "sentence " << i;
    }

    // Bytes faster than the line's speed (a USB receiver, a program on a pty) come in whole
    // sentences or packets: such a line is read as it comes, never paused, until reopened.
    const auto readAfter = [&](const std::string& text) {
        ASSERT_EQ(::write(pty.master(), text.data(), text.size()), ssize_t(text.size()));
        std::this_thread::sleep_for(20ms);
        gps.receiver.handleReadable();
    };
    const std::string half = sentence(0).substr(0, 40);
    readAfter(half);
    EXPECT_GT(gps.receiver.restOfSentence(), 0ns) << "as a UART's first bytes";
    // Four sentences and a half within 20 ms: 4800 baud carries ten bytes.
    readAfter(sentence(1) + sentence(2) + sentence(3) + sentence(4) + half);
    EXPECT_EQ(gps.receiver.restOfSentence(), 0ns);
    std::this_thread::sleep_for(1s);
    readAfter(half);
    EXPECT_EQ(gps.receiver.restOfSentence(), 0ns);
    gps.receiver.OpenPort();
    readAfter(half);
    EXPECT_GT(gps.receiver.restOfSentence(), 0ns);
}
#endif

// Only a terminal opens (a recording would be replayed on every reopen); a port the receiver
// holds is busy for the display until the receiver closes it. Both devices unplugged: each
// stays wanted through a failed retry until it is back; one closed on purpose is forgotten.
TEST(PortsOnPtys, OnlyATerminalOpensOnlyOneHoldsItAndAnUnpluggedOneStaysWantedUntilItOpens) {
    const std::string file = TIDEWELL_NMEA_LOGS_DIR "/neo-m8n.log";
    Com1 recording(file), null("/dev/null");
    EXPECT_EQ(raised([&] { recording.receiver.OpenPort(); }).second,
              "COM1 (" + file + ") is not a serial device");
    EXPECT_EQ(raised([&] { null.display.PortOpen(true); }).second,
              "Opening COM1 (/dev/null): Inappropriate ioctl for device");
    EXPECT_FALSE(recording.receiver.isOpen() || null.display.PortOpen());
    Pty pty;
    Com1 holder(pty.path());
    holder.receiver.OpenPort();
    EXPECT_EQ(raised([&] { holder.display.PortOpen(true); }).second,
              "Opening COM1 (" + pty.path() + "): Device or resource busy");
    holder.receiver.ClosePort();
    holder.display.PortOpen(true);
    EXPECT_TRUE(holder.display.PortOpen()) << "closing releases the port";

    std::unique_ptr<Pty> gpsPty, displayPty;
    Com1 gps(""), serial("");
    const auto plugIn = [&] {
        gpsPty = std::make_unique<Pty>(), displayPty = std::make_unique<Pty>();
        gps.path = gpsPty->path(), serial.path = displayPty->path();
    };
    // The freed pty numbers are soon another test's: the devices are gone for good.
    const auto unplug = [&] {
        gpsPty.reset(), displayPty.reset();
        gps.path = serial.path = "/nonexistent/tty";
        gps.receiver.handleReadable();
        return raised([&] { serial.display.Output(std::string(35, '0')); }).first;
    };
    const auto lost = [&] {
        return std::pair(gps.receiver.deviceLost(), serial.display.deviceLost());
    };
    plugIn();
    gps.receiver.OpenPort();
    serial.display.PortOpen(true);
    EXPECT_EQ(unplug(), errors::kCollidingSystemErrorBase + EIO)
        << "EIO is 5, the number of an invalid date";
    EXPECT_THROW(gps.receiver.OpenPort(), Error);
    EXPECT_THROW(serial.display.reopenLost(), Error);
    EXPECT_EQ(lost(), std::pair(true, true)) << "unplugged, and a failed retry keeps them wanted";
    plugIn();
    gps.receiver.OpenPort();
    serial.display.reopenLost();
    EXPECT_TRUE(gps.receiver.isOpen() && serial.display.PortOpen());
    EXPECT_EQ(lost(), std::pair(false, false));
    unplug();
    gps.receiver.ClosePort();
    serial.display.PortOpen(false);
    EXPECT_EQ(lost(), std::pair(false, false)) << "a port closed on purpose is not reopened";
}

// A receiver at 9600 baud with a fix, named twice (once through a link); one at 4800 without a
// fix; noise at a speed the hunt never tries; a silent line; one that another receiver holds;
// one missing. A line for each device, in order, then the receivers as the settings name them.
TEST(NmeaScan, TellsWhatEachDeviceCarriesAndHowToUseTheReceivers) {
    using ::testing::StartsWith;
    ChildProcess fix(kTools + "nmea-sim", {"--baud", "9600", "--chunk", "sentence"}),
        noFix(kTools + "nmea-sim", {"--void", "1"}),
        noise(kTools + "nmea-sim", {"--baud", "57600"});
    Pty silent, held;
    Com1 holder(held.path());
    holder.receiver.OpenPort();
    const testing::TempFolder folder;
    const std::string link = folder.file("gps");
    std::filesystem::create_symlink(fix.line(0), link);
    const std::string missing = TIDEWELL_BINARY_DIR "/no-such-tty";
    ChildProcess scan(kTools + "nmea-check", {"--scan", link, fix.line(0), noFix.line(0),
                                              noise.line(0), silent.path(), held.path(), missing});
    // It ends itself within 20 s, whatever the devices do; the wait only catches a hang.
    EXPECT_EQ(scan.waitExit(200'000), 0) << scan.stderrText();
    EXPECT_THAT(
        scan.lines(),
        ::testing::ElementsAre(
            link + " (" + fix.line(0) + "): NMEA at 9600 baud, valid time",
            ::testing::MatchesRegex(noFix.line(0) + ": NMEA at 4800 baud, no valid time in the "
                                                    "last [0-9]+ s: [0-9]+ status V"),
            StartsWith(noise.line(0) + ": noise: "), StartsWith(silent.path() + ": nothing"),
            StartsWith(held.path() + ": busy: locked by PID " + std::to_string(::getpid()) + " ("),
            missing + ": no such device", "",
            "Put these lines in Tidewell.ini and choose COM1 (or COM2) as the GPS port:", "[Ports]",
            "COM1=" + link, "COM2=" + noFix.line(0), "BAUD=auto"));
}

// A port that was free a moment ago on every address.
int freeUdpPort() {
    int fd = -1;
    const int port = testing::boundUdp(fd, "0.0.0.0");
    ::close(fd);
    return port;
}

struct UdpTo : SystemUdpSocket {
    UdpTo(const std::string& host, int port) {
        Protocol = UdpSocket::UdpProtocol, LocalPort = freeUdpPort(), RemotePort = port;
        RemoteHost = host;
    }
};

const std::string kUtcFrame = "*161103120620260000000001000000000#";

// Run in a child of its own, in a network namespace of its own: "" on success, what went
// wrong, or "SKIP: why".
std::string limitedBroadcastInANewNetworkNamespace() {
    if (::unshare(CLONE_NEWNET) != 0)
        return std::string("SKIP: cannot make a network namespace: ") + std::strerror(errno);
    // A link with an address and a route gives the limited broadcast a way out; its own copy
    // is looped back to local listeners.
    if (std::system("(ip link set lo up && (ip link add tw0 type dummy || ip link add tw0 type"
                    " veth peer name tw1) && ip addr add 10.77.0.1/24 broadcast 10.77.0.255 dev"
                    " tw0 && ip link set tw0 up && (ip link set tw1 up; true) && ip route add"
                    " default dev tw0) 2>/dev/null") != 0)
        return "SKIP: cannot set up a link (needs ip, and the dummy or veth driver)";
    int receiver = -1;
    UdpTo socket("255.255.255.255", testing::boundUdp(receiver, "0.0.0.0"));
    try {
        socket.SendData(kUtcFrame);
    } catch (const Error& e) {
        return "send failed: " + e.description();
    }
    sockaddr_in from{};
    socklen_t length = sizeof from;
    char got[64] = {};
    pollfd p{receiver, POLLIN, 0};
    if (::poll(&p, 1, 2000) != 1 ||
        ::recvfrom(receiver, got, sizeof got - 1, 0, reinterpret_cast<sockaddr*>(&from), &length) < 0)
        return "no broadcast received";
    if (got != kUtcFrame) return std::string("broadcast not received whole: '") + got + "'";
    return ntohs(from.sin_port) == socket.LocalPort ? "" : "wrong source port";
}

// What went wrong, or why it was skipped, is on the line above the verdict.
TEST(UdpInNetworkNamespace, LimitedBroadcastReachesAListener) {
    const pid_t child = ::fork();
    if (child == 0) {
        const std::string result = limitedBroadcastInANewNetworkNamespace();
        std::fprintf(stderr, "%s\n", result.c_str());
        ::_exit(result.empty() ? 0 : result.starts_with("SKIP: ") ? 77 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Each datagram is one frame, from the sender's LocalPort, rebound when it changes. A good
// frame of now is read with its mode and a small offset; one with a layout fault is named BAD
// with why.
TEST(SyncListen, DecodesUdpFramesFromTheSendersPortAndNamesLayoutFaults) {
    const int port = freeUdpPort();
    ChildProcess listener(kTools + "sync-listen",
                          {"--port", std::to_string(port), "--count", "2", "--timeout", "10"});
    ASSERT_EQ(listener.line(0), "listening on udp 127.0.0.1:" + std::to_string(port));
    UdpTo socket("127.0.0.1", port);
    const time_t now = std::time(nullptr);
    tm t{};
    ::gmtime_r(&now, &t);
    const std::pair<std::string, std::string> sends[] = {
        {buildSyncFrame({t.tm_sec, t.tm_min, t.tm_hour, t.tm_mday, t.tm_mon + 1, t.tm_year + 1900},
                        SyncMode::Utc, 0),
         " UTC  offset "},
        {"*16110312312026         1         #",
         "BAD: month 31 out of range (local frames carry the day first)"},
    };
    for (std::size_t i = 0; i < std::size(sends); ++i) {
        if (i == 1) socket.LocalPort = freeUdpPort();
        socket.SendData(sends[i].first);
        const std::string line = listener.line(1 + i);
        const auto at = line.find(sends[i].second);
        ASSERT_NE(at, std::string::npos) << line;
        EXPECT_TRUE(i == 1 ||
                    (std::abs(std::stod(line.substr(at + sends[i].second.size()))) < 3.0 &&
                     line.ends_with("  OK")))
            << line;
        EXPECT_NE(line.find("from 127.0.0.1:" + std::to_string(socket.LocalPort)),
                  std::string::npos);
    }
    EXPECT_EQ(listener.waitExit(10000), 1) << "a bad frame makes the exit status 1";
}

}  // namespace
}  // namespace tidewell
