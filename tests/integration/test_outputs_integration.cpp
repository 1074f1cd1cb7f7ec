// The sync outputs on real ptys and sockets, and sync-listen decoding what they send.
#include <gtest/gtest.h>

#include <sched.h>
#include <termios.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <functional>

#include "../devices/loopback_receiver.h"
#include "broadcast/sync_frame.h"
#include "child_process.h"
#include "devices/serial_port_posix.h"
#include "devices/udp_socket_posix.h"
#include "platform/error.h"

namespace tidewell {
namespace {

using testing::ChildProcess;
using testing::freeUdpPort;
using testing::LoopbackReceiver;
using testing::Pty;
using namespace std::chrono_literals;

const std::string kSyncListen = TIDEWELL_BINARY_DIR "/tools/sync-listen";
const std::string kUtcFrame = "*161103120620260000000001000000000#";
const std::string kLocalSaveFrame = "*16110406122026         1  1      #";

struct SerialOn : PosixSerialPort {
    explicit SerialOn(const std::string& path, int number = 3)
        : PosixSerialPort([path](int) { return path; }) {
        CommPort = number;
    }
};

struct UdpTo : PosixUdpSocket {
    UdpTo(const std::string& host, int remotePort, int localPort) {
        Protocol = UdpSocket::UdpProtocol;
        LocalPort = localPort;
        RemotePort = remotePort;
        RemoteHost = host;
    }
};

// The error number thrown, 0 for none; its description in *description.
int errorOf(const std::function<void()>& action, std::string* description = nullptr) {
    try {
        action();
        return 0;
    } catch (const Error& e) {
        if (description) *description = e.description();
        return e.number();
    }
}

TEST(SerialPortOnPty, FramesArriveExactlyAsWrittenOnA9600N81Line) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    SerialOn port(pty.path());
    port.PortOpen(true);
    ASSERT_TRUE(port.PortOpen());
    termios tio{};
    ASSERT_EQ(::tcgetattr(pty.slave(), &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
    for (const auto& frame : {kUtcFrame, kLocalSaveFrame}) {
        port.Output(frame);
        EXPECT_EQ(pty.read(frame.size()), frame) << "35 bytes, blanks kept";
        EXPECT_EQ(pty.read(1, 100), "") << "no line end or anything else after the frame";
    }
}

TEST(SerialPortOnPty, BusyOrMissingDeviceFailsToOpen) {
    Pty pty;
    SerialOn holder(pty.path());
    holder.PortOpen(true);
    const std::pair<std::string, int> rows[] = {
        {"/nonexistent/ttyS9", ENOENT}, {pty.path(), EBUSY}, {"/dev/null", ENOTTY}};
    for (const auto& [path, number] : rows) {
        SerialOn port(path, 5);
        std::string description;
        EXPECT_EQ(errorOf([&] { port.PortOpen(true); }, &description), number) << path;
        EXPECT_EQ(description.rfind("Opening COM5 (" + path + "): ", 0), 0u) << description;
        EXPECT_FALSE(port.PortOpen());
    }
    holder.PortOpen(false);
    SerialOn second(pty.path());
    second.PortOpen(true);
    EXPECT_TRUE(second.PortOpen()) << "closing releases the port";
}

TEST(SerialPortOnPty, AnUnpluggedDisplayClosesThePortUntilItIsBack) {
    auto pty = std::make_unique<Pty>();
    std::string path = pty->path();
    PosixSerialPort port([&](int) { return path; });
    port.PortOpen(true);
    pty.reset();
    EXPECT_EQ(errorOf([&] { port.Output("*00000001012027         1         #"); }),
              errors::kCollidingSystemErrorBase + EIO)
        << "EIO is 5, the number of an invalid date";
    EXPECT_FALSE(port.PortOpen());
    EXPECT_TRUE(port.deviceLost());

    Pty replugged;
    path = replugged.path();
    port.PortOpen(true);
    EXPECT_FALSE(port.deviceLost());
    port.PortOpen(false);
    EXPECT_FALSE(port.deviceLost()) << "a port closed on purpose is not reopened";
}

TEST(UdpOnLoopback, OneDatagramPerFrameFromLocalPort) {
    LoopbackReceiver receiver;
    UdpTo socket("127.0.0.1", receiver.port(), freeUdpPort());
    socket.SendData(kUtcFrame);
    socket.SendData(kLocalSaveFrame);
    const auto first = receiver.receive();
    EXPECT_EQ(first.data, kUtcFrame);
    EXPECT_EQ(first.fromPort, socket.LocalPort);
    EXPECT_EQ(receiver.receive().data, kLocalSaveFrame);
    EXPECT_EQ(receiver.receive(100).data, "");
    socket.LocalPort = freeUdpPort();
    socket.SendData(kUtcFrame);
    EXPECT_EQ(receiver.receive().fromPort, socket.LocalPort) << "a changed LocalPort rebinds";
}

// Run in a child inside a network namespace of its own; the body returns "" on success, what
// went wrong, or "SKIP: why".
std::string inNewNetworkNamespace(const std::function<std::string()>& body) {
    int report[2];
    if (::pipe(report) != 0) return "pipe failed";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(report[0]);
        const std::string result =
            ::unshare(CLONE_NEWNET) != 0
                ? std::string("SKIP: cannot make a network namespace: ") + std::strerror(errno)
                : body();
        ::_exit(::write(report[1], result.data(), result.size()) < 0);
    }
    ::close(report[1]);
    std::string result;
    for (std::string got; !(got = testing::readSome(report[0], 30000)).empty();) result += got;
    ::close(report[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? result : "child crashed: " + result;
}

TEST(UdpInNetworkNamespace, LimitedBroadcastReachesAListener) {
    const std::string result = inNewNetworkNamespace([]() -> std::string {
        if (std::system("ip link set lo up 2>/dev/null") != 0)
            return "SKIP: cannot bring up lo (needs ip)";
        // A link with an address and a route gives the limited broadcast a way out; its own
        // copy is looped back to local listeners.
        if (std::system("ip link add tw0 type dummy 2>/dev/null") != 0 &&
            std::system("ip link add tw0 type veth peer name tw1 2>/dev/null") != 0)
            return "SKIP: neither a dummy nor a veth link can be made (needs ip and the driver)";
        if (std::system(
                "ip addr add 10.77.0.1/24 broadcast 10.77.0.255 dev tw0 && ip link set tw0 up"
                " && (ip link set tw1 up 2>/dev/null; true) && ip route add default dev tw0") != 0)
            return "SKIP: cannot configure the link";
        LoopbackReceiver receiver(0, "0.0.0.0");
        UdpTo socket("255.255.255.255", receiver.port(), freeUdpPort());
        std::string description;
        if (errorOf([&] { socket.SendData(kUtcFrame); }, &description) != 0)
            return "send failed: " + description;
        const auto got = receiver.receive();
        if (got.data != kUtcFrame) return "broadcast not received: '" + got.data + "'";
        return got.fromPort == socket.LocalPort ? "" : "wrong source port";
    });
    if (result.starts_with("SKIP: ")) GTEST_SKIP() << result.substr(6);
    EXPECT_EQ(result, "");
}

std::string frameForNow(SyncMode mode, int batterySave) {
    const time_t now = std::time(nullptr);
    tm t{};
    mode == SyncMode::Utc ? ::gmtime_r(&now, &t) : ::localtime_r(&now, &t);
    return buildSyncFrame(
        {t.tm_sec, t.tm_min, t.tm_hour, t.tm_mday, t.tm_mon + 1, t.tm_year + 1900}, mode,
        batterySave);
}

// How sync-listen names a frame's mode and trailer. A frame of now asked for battery save
// carries it except at hours 2 and 15, so the expected name comes from the frame.
std::string nameOf(const std::string& frame) {
    return std::string(frame[15] == '0' ? " UTC" : " local") +
           (frame[27] == '1' ? " battery-save" : "") + "  offset";
}

double offsetIn(const std::string& line) {
    const auto at = line.find("offset ");
    return at == std::string::npos ? 1e9 : std::stod(line.substr(at + 7));
}

TEST(SyncListen, DecodesTheUdpOutputsFramesAndReportsLayoutFaults) {
    const int port = freeUdpPort();
    ChildProcess listener(kSyncListen,
                          {"--port", std::to_string(port), "--count", "5", "--timeout", "10"});
    ASSERT_EQ(listener.line(0), "listening on udp 127.0.0.1:" + std::to_string(port));
    UdpTo socket("127.0.0.1", port, freeUdpPort());
    const std::string frames[] = {frameForNow(SyncMode::Utc, 0), frameForNow(SyncMode::Local, 1)};
    for (const auto& frame : frames) socket.SendData(frame);
    EXPECT_NE(listener.line(1).find("from 127.0.0.1:" + std::to_string(socket.LocalPort)),
              std::string::npos)
        << listener.line(1);
    for (std::size_t i = 0; i < 2; ++i) {
        const std::string line = listener.line(1 + i);
        EXPECT_NE(line.find(nameOf(frames[i])), std::string::npos) << line;
        EXPECT_NE(line.find("  OK"), std::string::npos) << line;
        EXPECT_LT(std::abs(offsetIn(line)), 3.0) << "frames of now are near the clock: " << line;
    }
    const std::pair<std::string, std::string> faults[] = {
        {"*16110312062026000000000100000000#", "BAD: length 34, expected 35"},
        {"*16110312312026         1         #",
         "BAD: month 31 out of range (local frames carry the day first)"},
        {"*16110231122026         1  1      #", "BAD: battery-save trailer at hour 2"},
    };
    for (std::size_t i = 0; i < std::size(faults); ++i) {
        socket.SendData(faults[i].first);
        const std::string line = listener.line(3 + i);
        EXPECT_NE(line.find(faults[i].second), std::string::npos)
            << faults[i].first << "\n  got: " << line;
    }
    EXPECT_EQ(listener.waitExit(10000), 1) << "a bad frame makes the exit status 1";
}

TEST(SyncListen, FindsTheSerialOutputsFramesInTheStream) {
    Pty display, relay;
    ChildProcess listener(kSyncListen,
                          {"--device", relay.path(), "--count", "3", "--timeout", "10"});
    ASSERT_EQ(listener.line(0), "reading " + relay.path());
    SerialOn port(display.path());
    port.PortOpen(true);
    const std::string frame = frameForNow(SyncMode::Utc, 1);
    port.Output(frame);
    port.Output(frame);
    const std::string bytes = display.read(2 * frame.size());
    ASSERT_EQ(bytes, frame + frame);
    // A frame cut short by a full buffer, then two whole ones, split across writes.
    const std::string stream = frame.substr(0, 20) + bytes;
    ASSERT_EQ(::write(relay.master(), stream.data(), 30), 30);
    ::usleep(50000);
    ASSERT_EQ(::write(relay.master(), stream.data() + 30, stream.size() - 30),
              static_cast<ssize_t>(stream.size() - 30));
    EXPECT_NE(listener.line(1).find("BAD: length 20, expected 35"), std::string::npos);
    for (std::size_t i = 2; i < 4; ++i) {
        EXPECT_NE(listener.line(i).find(nameOf(frame)), std::string::npos) << listener.line(i);
        EXPECT_NE(listener.line(i).find("  OK"), std::string::npos) << listener.line(i);
    }
    EXPECT_EQ(listener.waitExit(10000), 1);
}

// The program's own settings, and sync-listen's defaults: from and to port 16000 on loopback.
TEST(UdpPort16000, SyncListenDefaultsHearThePort16000Sender) {
    UdpTo socket("127.0.0.1", 16000, 16000);
    socket.SendData(kUtcFrame);  // binds first, as the running program would
    ChildProcess listener(kSyncListen, {"--count", "1", "--timeout", "10"});
    ASSERT_EQ(listener.line(0), "listening on udp 127.0.0.1:16000");
    socket.SendData(kUtcFrame);
    EXPECT_NE(listener.line(1).find("from 127.0.0.1:16000  2026-12-06 03:11:16 UTC"),
              std::string::npos)
        << listener.line(1);
    EXPECT_EQ(listener.waitExit(10000), 0);
}

}  // namespace
}  // namespace tidewell
