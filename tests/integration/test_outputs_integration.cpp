// The UDP output broadcasting in a network namespace of its own, and sync-listen decoding the
// outputs' frames.
#include <gtest/gtest.h>

#include <sched.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "broadcast/sync_frame.h"
#include "child_process.h"
#include "devices/udp_socket.h"
#include "platform/error.h"

namespace tidewell {
namespace {

using testing::ChildProcess;

using testing::boundUdp;

// A port that was free a moment ago on every address.
int freeUdpPort() {
    int fd = -1;
    const int port = boundUdp(fd, "0.0.0.0");
    ::close(fd);
    return port;
}

const std::string kSyncListen = TIDEWELL_BINARY_DIR "/tools/sync-listen";
const std::string kUtcFrame = "*161103120620260000000001000000000#";

struct UdpTo : SystemUdpSocket {
    UdpTo(const std::string& host, int remotePort, int localPort) {
        Protocol = UdpSocket::UdpProtocol;
        LocalPort = localPort;
        RemotePort = remotePort;
        RemoteHost = host;
    }
};

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
    UdpTo socket("255.255.255.255", boundUdp(receiver, "0.0.0.0"), freeUdpPort());
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

TEST(UdpInNetworkNamespace, LimitedBroadcastReachesAListener) {
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        const std::string result = limitedBroadcastInANewNetworkNamespace();
        ::_exit(::write(report[1], result.data(), result.size()) < 0);
    }
    ::close(report[1]);
    std::string result;
    for (std::string got; !(got = testing::readSome(report[0], 30000)).empty();) result += got;
    ::close(report[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child crashed: " << result;
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

// That sync-listen read `frame` as a good frame of now: its mode and trailer named, its offset
// small. A frame asked for battery save carries it except at hours 2 and 15, so the expected
// name comes from the frame.
void expectGoodFrameOfNow(const std::string& line, const std::string& frame) {
    SCOPED_TRACE(line);
    const std::string name = std::string(frame[15] == '0' ? " UTC" : " local") +
                             (frame[27] == '1' ? " battery-save" : "") + "  offset ";
    const auto at = line.find(name);
    ASSERT_NE(at, std::string::npos);
    EXPECT_LT(std::abs(std::stod(line.substr(at + name.size()))), 3.0);
    EXPECT_TRUE(line.ends_with("  OK"));
}

// Each datagram is one frame, from the sender's LocalPort, rebound when it changes.
TEST(SyncListen, DecodesUdpFramesFromTheSendersPortAndNamesLayoutFaults) {
    const int port = freeUdpPort();
    ChildProcess listener(kSyncListen,
                          {"--port", std::to_string(port), "--count", "4", "--timeout", "10"});
    ASSERT_EQ(listener.line(0), "listening on udp 127.0.0.1:" + std::to_string(port));
    UdpTo socket("127.0.0.1", port, freeUdpPort());
    // Good frames, then frames with a layout fault (what the line must name) from another port.
    const std::pair<std::string, std::string> sends[] = {
        {frameForNow(SyncMode::Utc, 0), ""},
        {frameForNow(SyncMode::Local, 1), ""},
        {"*16110312062026000000000100000000#", "BAD: length 34, expected 35"},
        {"*16110312312026         1         #",
         "BAD: month 31 out of range (local frames carry the day first)"},
    };
    for (std::size_t i = 0; i < std::size(sends); ++i) {
        if (i == 2) socket.LocalPort = freeUdpPort();
        socket.SendData(sends[i].first);
        const std::string line = listener.line(1 + i);
        if (sends[i].second.empty()) expectGoodFrameOfNow(line, sends[i].first);
        EXPECT_NE(line.find(sends[i].second), std::string::npos) << line;
        EXPECT_NE(line.find("from 127.0.0.1:" + std::to_string(socket.LocalPort)),
                  std::string::npos);
    }
    EXPECT_EQ(listener.waitExit(10000), 1) << "a bad frame makes the exit status 1";
}

}  // namespace
}  // namespace tidewell
