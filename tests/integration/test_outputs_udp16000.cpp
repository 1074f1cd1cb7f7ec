#include <gtest/gtest.h>

#include "../devices/loopback_receiver.h"
#include "devices/udp_socket_posix.h"
#include "output_process.h"

namespace tidewell {
namespace {

const std::string kFrame = "*161103120620260000000001000000000#";

// The program's own settings: both ports 16000, so a display that answers to port 16000 sees it.
TEST(UdpPort16000, SendsFromAndToPort16000) {
    testing::LoopbackReceiver receiver(16000);
    PosixUdpSocket socket;
    socket.Protocol = UdpSocket::UdpProtocol;
    socket.RemotePort = 16000;
    socket.LocalPort = 16000;
    socket.RemoteHost = "127.0.0.1";
    socket.SendData(kFrame);
    const auto got = receiver.receive();
    EXPECT_EQ(got.data, kFrame);
    EXPECT_EQ(got.fromPort, 16000);
}

TEST(UdpPort16000, SyncListenDefaultsListenBesideTheSender) {
    PosixUdpSocket socket;
    socket.Protocol = UdpSocket::UdpProtocol;
    socket.RemotePort = 16000;
    socket.LocalPort = 16000;
    socket.RemoteHost = "127.0.0.1";
    socket.SendData(kFrame); // binds first, as the running program would

    testing::ListenerProcess listener({"--count", "1", "--timeout", "10"});
    ASSERT_EQ(listener.readLine(), "listening on udp 127.0.0.1:16000");
    socket.SendData(kFrame);
    const std::string line = listener.readLine();
    EXPECT_NE(line.find("from 127.0.0.1:16000  2026-12-06 03:11:16 UTC"), std::string::npos)
        << line;
    EXPECT_EQ(listener.exitCode(), 0);
}

} // namespace
} // namespace tidewell
