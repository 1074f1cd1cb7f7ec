#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <net/if.h>
#include <pty.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <termios.h>

#include "../devices/loopback_receiver.h"
#include "broadcast/sync_frame.h"
#include "devices/serial_port_posix.h"
#include "devices/udp_socket_posix.h"
#include "output_process.h"
#include "platform/error.h"

namespace tidewell {
namespace {

using testing::ListenerProcess;
using testing::LoopbackReceiver;

const std::string kUtcFrame = "*161103120620260000000001000000000#";
const std::string kLocalSaveFrame = "*16110406122026         1  1      #";

// A pseudo-terminal whose slave end stands in for the display's serial port.
class Pty {
  public:
    Pty() {
        char name[128];
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return;
        path_ = name;
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() {
        closeMaster();
        if (slave_ >= 0) ::close(slave_);
    }
    const std::string& path() const { return path_; }
    int master() const { return master_; }
    int slave() const { return slave_; }
    void closeMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }
    // Whatever arrives within the wait once the first bytes are there.
    std::string read(std::size_t want, int waitMs = 2000) {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 20) != 1) continue;
            char buffer[4096];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }
    std::string drain() { return read(SIZE_MAX, 300); }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

PosixSerialPort::PathForPort always(const std::string& path) {
    return [path](int) { return path; };
}

int errorNumberOf(const std::function<void()>& action, std::string* description = nullptr) {
    try {
        action();
        return 0;
    } catch (const Error& e) {
        if (description) *description = e.description();
        return e.number();
    }
}

TEST(SerialPortOnPty, FramesArriveExactlyAsWritten) {
    Pty pty;
    ASSERT_FALSE(pty.path().empty());
    PosixSerialPort port(always(pty.path()));
    port.CommPort = 3;
    port.PortOpen(true);
    ASSERT_TRUE(port.PortOpen());

    for (const auto& frame : {kUtcFrame, kLocalSaveFrame}) {
        port.Output(frame);
        EXPECT_EQ(pty.read(frame.size()), frame) << "35 bytes, blanks kept";
        EXPECT_EQ(pty.read(1, 100), "") << "no line end or anything else after the frame";
    }
    EXPECT_EQ(port.droppedWrites(), 0u);
}

TEST(SerialPortOnPty, LineIsRaw9600EightNoneOne) {
    Pty pty;
    PosixSerialPort port(always(pty.path()));
    port.PortOpen(true);
    termios tio{};
    ASSERT_EQ(::tcgetattr(pty.slave(), &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(::cfgetispeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(tio.c_cflag & PARENB);
    EXPECT_FALSE(tio.c_cflag & CSTOPB);
    EXPECT_FALSE(tio.c_oflag & OPOST) << "no newline translation";
    EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO));
}

TEST(SerialPortOnPty, OpenFailuresLeaveThePortClosed) {
    Pty pty;
    PosixSerialPort holder(always(pty.path()));
    holder.PortOpen(true);

    struct Row {
        std::string path;
        int expected;
        std::string description;
    } rows[] = {
        {"/nonexistent/ttyS9", ENOENT,
         "Opening COM5 (/nonexistent/ttyS9): No such file or directory"},
        {pty.path(), EBUSY, "Opening COM5 (" + pty.path() + "): Device or resource busy"},
        {"/dev/null", ENOTTY, "Opening COM5 (/dev/null): Inappropriate ioctl for device"},
    };
    for (const auto& row : rows) {
        PosixSerialPort port(always(row.path));
        port.CommPort = 5;
        std::string description;
        EXPECT_EQ(errorNumberOf([&] { port.PortOpen(true); }, &description), row.expected)
            << row.path;
        EXPECT_EQ(description, row.description);
        EXPECT_FALSE(port.PortOpen());
    }

    holder.PortOpen(false);
    PosixSerialPort second(always(pty.path()));
    second.PortOpen(true);
    EXPECT_TRUE(second.PortOpen()) << "closing releases the port";
}

TEST(SerialPortOnPty, StalledDisplayDropsFramesWithoutBlocking) {
    Pty pty;
    PosixSerialPort port(always(pty.path()));
    port.PortOpen(true);

    const auto start = std::chrono::steady_clock::now();
    std::uint64_t calls = 0;
    auto slowest = std::chrono::steady_clock::duration::zero();
    while (port.droppedWrites() < 3 && calls < 50000) {
        const auto before = std::chrono::steady_clock::now();
        port.Output(kUtcFrame);
        slowest = std::max(slowest, std::chrono::steady_clock::now() - before);
        ++calls;
    }
    EXPECT_GE(port.droppedWrites(), 3u) << "the pty buffer never filled";
    EXPECT_LT(slowest, std::chrono::milliseconds(50));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(port.PortOpen());

    const std::string backlog = pty.drain();
    const auto whole = (calls - port.droppedWrites()) * kUtcFrame.size();
    EXPECT_GE(backlog.size(), whole);
    EXPECT_LT(backlog.size(), calls * kUtcFrame.size());

    port.Output(kUtcFrame);
    EXPECT_EQ(pty.read(kUtcFrame.size()), kUtcFrame) << "writes go through again once read";
}

TEST(SerialPortOnPty, UnpluggedDeviceClosesThePortAndReports) {
    Pty pty;
    PosixSerialPort port(always(pty.path()));
    port.CommPort = 3;
    port.PortOpen(true);
    pty.closeMaster();

    std::string description;
    const int number = errorNumberOf([&] { port.Output(kUtcFrame); }, &description);
    EXPECT_EQ(number, EIO);
    EXPECT_EQ(description, "Writing COM3 (" + pty.path() + "): Input/output error");
    EXPECT_FALSE(port.PortOpen());
    EXPECT_NE(errorNumberOf([&] { port.Output(kUtcFrame); }), 0) << "writing a closed port fails";
}

class UdpOnLoopback : public ::testing::Test {
  protected:
    UdpOnLoopback() {
        socket.Protocol = UdpSocket::UdpProtocol;
        socket.LocalPort = testing::freeUdpPort();
        socket.RemotePort = receiver.port();
        socket.RemoteHost = "127.0.0.1";
    }
    LoopbackReceiver receiver;
    PosixUdpSocket socket;
};

TEST_F(UdpOnLoopback, OneDatagramPerFrameFromLocalPort) {
    socket.SendData(kUtcFrame);
    socket.SendData(kLocalSaveFrame);
    const auto first = receiver.receive();
    const auto second = receiver.receive();
    EXPECT_EQ(first.data, kUtcFrame);
    EXPECT_EQ(second.data, kLocalSaveFrame);
    EXPECT_EQ(first.fromPort, socket.LocalPort);
    EXPECT_EQ(receiver.receive(100).data, "");
}

TEST_F(UdpOnLoopback, ChangedLocalPortRebinds) {
    socket.SendData(kUtcFrame);
    EXPECT_EQ(receiver.receive().fromPort, socket.LocalPort);
    socket.LocalPort = testing::freeUdpPort();
    socket.SendData(kUtcFrame);
    EXPECT_EQ(receiver.receive().fromPort, socket.LocalPort);
}

// Runs body in a child process inside a fresh network namespace; body returns "" on success or
// what went wrong, or "SKIP: why".
std::string inNewNetworkNamespace(const std::function<std::string()>& body) {
    int report[2];
    if (::pipe(report) != 0) return "pipe failed";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(report[0]);
        std::string result;
        if (::unshare(CLONE_NEWNET) != 0)
            result = std::string("SKIP: cannot make a network namespace: ") + std::strerror(errno);
        else
            result = body();
        if (::write(report[1], result.data(), result.size()) < 0) ::_exit(2);
        ::_exit(0);
    }
    ::close(report[1]);
    std::string result;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(report[0], buffer, sizeof buffer)) > 0)
        result.append(buffer, static_cast<std::size_t>(n));
    ::close(report[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child crashed: " + result;
    return result;
}

bool bringUpLoopback() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    ok = ok && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return ok;
}

#define CHECK_IN_CHILD(condition, what)                                                            \
    if (!(condition)) return std::string(what)

TEST(UdpInNetworkNamespace, LimitedBroadcastReachesListener) {
    const std::string result = inNewNetworkNamespace([]() -> std::string {
        if (!bringUpLoopback()) return "SKIP: cannot bring up lo in the namespace";
        // A link with an address and a route gives the limited broadcast a way out; its own
        // copy is looped back to local listeners.
        const bool link = std::system("ip link add tw0 type dummy 2>/dev/null") == 0 ||
                          std::system("ip link add tw0 type veth peer name tw1 2>/dev/null") == 0;
        if (!link)
            return "SKIP: neither a dummy nor a veth link can be made (needs ip and the driver)";
        if (std::system(
                "ip addr add 10.77.0.1/24 broadcast 10.77.0.255 dev tw0 && ip link set tw0 up"
                " && (ip link set tw1 up 2>/dev/null; true)"
                " && ip route add default dev tw0") != 0)
            return "SKIP: cannot configure the link";

        LoopbackReceiver receiver(0, "0.0.0.0");
        PosixUdpSocket socket;
        socket.Protocol = UdpSocket::UdpProtocol;
        socket.LocalPort = receiver.port() + 1 <= 65535 ? receiver.port() + 1 : 1024;
        socket.RemotePort = receiver.port();
        socket.RemoteHost = "255.255.255.255";
        try {
            socket.SendData(kUtcFrame);
        } catch (const Error& e) {
            return "send failed: " + e.description();
        }
        const auto got = receiver.receive();
        CHECK_IN_CHILD(got.data == kUtcFrame, "broadcast not received: '" + got.data + "'");
        CHECK_IN_CHILD(got.fromPort == socket.LocalPort, "wrong source port");
        return "";
    });
    if (result.rfind("SKIP: ", 0) == 0) GTEST_SKIP() << result.substr(6);
    EXPECT_EQ(result, "");
}

TEST(UdpInNetworkNamespace, NoRouteIsReportedWithTheSystemsWords) {
    const std::string result = inNewNetworkNamespace([]() -> std::string {
        if (!bringUpLoopback()) return "SKIP: cannot bring up lo in the namespace";
        PosixUdpSocket socket;
        socket.Protocol = UdpSocket::UdpProtocol;
        socket.LocalPort = 0;
        socket.RemotePort = 16000;
        socket.RemoteHost = "10.1.2.3";
        std::string description;
        const int number = errorNumberOf([&] { socket.SendData(kUtcFrame); }, &description);
        CHECK_IN_CHILD(number == ENETUNREACH,
                       "number " + std::to_string(number) + ": " + description);
        CHECK_IN_CHILD(description == "Sending to 10.1.2.3:16000: Network is unreachable",
                       description);

        // With no way to a name server, the lookup fails without blocking the sender.
        socket.RemoteHost = "clocks.invalid";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (;;) {
            const auto before = std::chrono::steady_clock::now();
            const int lookup = errorNumberOf([&] { socket.SendData(kUtcFrame); }, &description);
            CHECK_IN_CHILD(std::chrono::steady_clock::now() - before <
                               std::chrono::milliseconds(100),
                           "SendData waited for the lookup");
            if (lookup != errors::TransientSend) {
                CHECK_IN_CHILD(lookup == PosixUdpSocket::kHostNotFound, description);
                CHECK_IN_CHILD(description.rfind("Resolving clocks.invalid: ", 0) == 0,
                               description);
                return "";
            }
            CHECK_IN_CHILD(std::chrono::steady_clock::now() < deadline, "lookup never settled");
            ::usleep(20000);
        }
    });
    if (result.rfind("SKIP: ", 0) == 0) GTEST_SKIP() << result.substr(6);
    EXPECT_EQ(result, "");
}

FrameFields fieldsOf(const tm& t) {
    return {t.tm_sec, t.tm_min, t.tm_hour, t.tm_mday, t.tm_mon + 1, t.tm_year + 1900};
}

std::string frameForNow(SyncMode mode, int batterySave) {
    const time_t now = std::time(nullptr);
    tm fields{};
    if (mode == SyncMode::Utc)
        ::gmtime_r(&now, &fields);
    else
        ::localtime_r(&now, &fields);
    return buildSyncFrame(fieldsOf(fields), mode, batterySave);
}

double offsetIn(const std::string& line) {
    const auto at = line.find("offset ");
    return at == std::string::npos ? 1e9 : std::stod(line.substr(at + 7));
}

class SyncListen : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::access(TIDEWELL_BINARY_DIR "/tools/sync-listen", X_OK) != 0)
            GTEST_SKIP() << "sync-listen is not built (TIDEWELL_BUILD_TOOLS=OFF)";
    }
};

TEST_F(SyncListen, DecodesDatagramsFromTheUdpSocket) {
    const int port = testing::freeUdpPort();
    ListenerProcess listener({"--port", std::to_string(port), "--count", "2", "--timeout", "10"});
    ASSERT_EQ(listener.readLine(), "listening on udp 127.0.0.1:" + std::to_string(port));

    PosixUdpSocket socket;
    socket.Protocol = UdpSocket::UdpProtocol;
    socket.LocalPort = testing::freeUdpPort();
    socket.RemotePort = port;
    socket.RemoteHost = "127.0.0.1";
    socket.SendData(frameForNow(SyncMode::Utc, 0));
    socket.SendData(frameForNow(SyncMode::Local, 1));

    const std::string utc = listener.readLine(), local = listener.readLine();
    const std::string from = "from 127.0.0.1:" + std::to_string(socket.LocalPort);
    EXPECT_NE(utc.find(from), std::string::npos) << utc;
    EXPECT_NE(utc.find(" UTC  offset"), std::string::npos) << utc;
    EXPECT_NE(local.find(" local"), std::string::npos) << local;
    for (const auto& line : {utc, local}) {
        EXPECT_NE(line.find("  OK"), std::string::npos) << line;
        EXPECT_LT(std::abs(offsetIn(line)), 3.0) << "frames of now are near the clock: " << line;
    }
    EXPECT_EQ(listener.exitCode(), 0);
}

TEST_F(SyncListen, ReportsEachLayoutFault) {
    struct Row {
        std::string frame;
        std::string reason;
    } rows[] = {
        {"*16110312062026000000000100000000#", "length 34, expected 35"},
        {kUtcFrame + "\r\n", "length 37, expected 35  \"" + kUtcFrame + "\\r\\n\""},
        {"#161103120620260000000001000000000*", "no '*' at start"},
        {"*1611031206202x0000000001000000000#", "not a digit at position 15"},
        {"*161103120620260000000001000000001#", "unknown trailer"},
        {"*60110312062026         1         #", "second 60 out of range"},
        {"*161124120620260000000001000000000#", "hour 24 out of range"},
        {"*161103130620260000000001000000000#", "month 13 out of range"},
        {"*16110306122026         1         #", "OK"},
        {"*16110312062026         1         #", "OK"},
        {"*16110312312026         1         #",
         "month 31 out of range (local frames carry the day first)"},
        {"*161103022920270000000001000000000#", "day 29 out of range for month 2"},
        {"*161103022920280000000001000000000#", "OK"},
        {"*16110231122026         1  1      #", "battery-save trailer at hour 2"},
        {"*16111531122026         1  1      #", "battery-save trailer at hour 15"},
    };
    const int port = testing::freeUdpPort();
    ListenerProcess listener({"--port", std::to_string(port), "--count",
                              std::to_string(std::size(rows)), "--timeout", "10"});
    ASSERT_NE(listener.readLine(), "");
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    for (const auto& row : rows) {
        ::sendto(fd, row.frame.data(), row.frame.size(), 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof to);
        const std::string line = listener.readLine();
        const std::string expected = row.reason == "OK" ? "  OK" : "BAD: " + row.reason;
        EXPECT_NE(line.find(expected), std::string::npos) << row.frame << "\n  got: " << line;
    }
    ::close(fd);
    EXPECT_EQ(listener.exitCode(), 1) << "a bad frame makes the exit status 1";
}

TEST_F(SyncListen, FindsFramesInTheSerialStream) {
    Pty display, relay;
    ListenerProcess listener({"--device", relay.path(), "--count", "3", "--timeout", "10"});
    ASSERT_EQ(listener.readLine(), "reading " + relay.path());

    PosixSerialPort port(always(display.path()));
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

    EXPECT_NE(listener.readLine().find("BAD: length 20, expected 35"), std::string::npos);
    for (int i = 0; i < 2; ++i) {
        const std::string line = listener.readLine();
        EXPECT_NE(line.find(" UTC battery-save  offset"), std::string::npos) << line;
        EXPECT_NE(line.find("  OK"), std::string::npos) << line;
    }
    EXPECT_EQ(listener.exitCode(), 1);
}

TEST_F(SyncListen, CommandLine) {
    ListenerProcess help({"--help"});
    EXPECT_NE(help.readLine().find("usage: sync-listen"), std::string::npos);
    EXPECT_EQ(help.exitCode(), 0);
    ListenerProcess quiet(
        {"--port", std::to_string(testing::freeUdpPort()), "--count", "1", "--timeout", "0.3"});
    EXPECT_EQ(quiet.exitCode(), 1) << "too few frames before the timeout";
}

} // namespace
} // namespace tidewell
