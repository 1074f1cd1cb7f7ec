#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "child_process.h"
#include "devices/port_names.h"
#include "devices/serial_port.h"
#include "devices/udp_socket.h"
#include "platform/error.h"

namespace tidewell {
namespace {

using namespace std::chrono_literals;

const std::string kFrame = "*161103120620260000000001000000000#";

TEST(PortNames, AnOverrideElseTheSerialDeviceOfThatNumber) {
    const std::map<int, std::string> overrides{{3, "/dev/serial/by-id/usb-FTDI-port0"}, {4, ""}};
    EXPECT_EQ(devicePathFor(3, overrides), "/dev/serial/by-id/usb-FTDI-port0");
    EXPECT_EQ(devicePathFor(4, overrides), "/dev/ttyS3") << "an empty override falls back";
    EXPECT_EQ(devicePathFor(0, overrides), "") << "no port number 0";
}

// A display that stopped reading: every frame reaches it whole once it reads again, or is
// counted as dropped; none is cut short.
TEST(SerialPortOnPty, AFullBufferTakesWholeFramesOrNone) {
    testing::Pty pty;
    LineSerialPort port([&](int) { return pty.path(); });
    port.PortOpen(true);
    const auto numbered = [](std::uint64_t n) {
        return "*" + std::to_string(1000000 + n).substr(1) + kFrame.substr(7);
    };
    std::uint64_t sent = 0;
    while (port.droppedWrites() < 3 && sent < 50000) port.Output(numbered(sent++));
    std::string drained = pty.read(SIZE_MAX, 300);
    port.Output(numbered(sent++));
    drained += pty.read(SIZE_MAX, 300);

    ASSERT_EQ(drained.size() % kFrame.size(), 0u) << "a fragment reached the display";
    std::uint64_t previous = 0, whole = 0;
    for (std::size_t at = 0; at < drained.size(); at += kFrame.size(), ++whole) {
        const std::uint64_t n = std::stoull(drained.substr(at + 1, 6));
        ASSERT_EQ(drained.substr(at, kFrame.size()), numbered(n));
        ASSERT_TRUE(whole == 0 || n > previous);
        previous = n;
    }
    EXPECT_GE(port.droppedWrites(), 3u);
    EXPECT_EQ(whole + port.droppedWrites(), sent);
    EXPECT_EQ(previous, sent - 1) << "frames go out again once the display reads";
}

// A name lookup the test completes by hand, reporting `status`.
struct ManualLookup : HostLookup {
    const Status& status;
    explicit ManualLookup(const Status& status) : status(status) {}
    Status poll() override { return status; }
    std::uint32_t address() const override { return htonl(INADDR_LOOPBACK); }
    std::string error() const override { return "Name or service not known"; }
};

TEST(UdpSocketLookup, PendingIsTransientAFailureHoldsForTheBackOffAFoundNameSends) {
    using Status = HostLookup::Status;
    int receiver = -1;
    const int port = testing::boundUdp(receiver, "127.0.0.1");
    const auto received = [&](int waitMs) { return testing::readSome(receiver, waitMs); };
    std::vector<std::string> started;
    Status status{};
    std::chrono::steady_clock::time_point now{};
    SystemUdpSocket socket{[&](const std::string& name) {
                              started.push_back(name);
                              status = Status::Pending;
                              return std::make_unique<ManualLookup>(status);
                          },
                          [&] { return now; }};
    socket.Protocol = UdpSocket::UdpProtocol;
    socket.RemotePort = port;
    socket.RemoteHost = "clocks.local";
    const auto send = [&] {
        try {
            socket.SendData(kFrame);
            return 0;
        } catch (const Error& e) {
            return e.number();
        }
    };
    EXPECT_EQ(send(), errors::TransientSend);
    EXPECT_EQ(received(100), "") << "nothing goes out while the name is pending";
    status = Status::Failed;
    EXPECT_EQ(send(), errors::HostNotFound);
    now += HostNames::kRetryAfter - 1s;
    EXPECT_EQ(send(), errors::HostNotFound) << "every send in the back-off fails";
    now += 1s;
    EXPECT_EQ(send(), errors::TransientSend) << "a new lookup is under way";
    status = Status::Found;
    EXPECT_EQ(send(), 0);
    EXPECT_EQ(received(2000), kFrame);
    EXPECT_EQ(started, std::vector<std::string>(2, "clocks.local")) << "one lookup per try";
    ::close(receiver);
}

}  // namespace
}  // namespace tidewell
