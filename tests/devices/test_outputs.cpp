// The outputs on Linux: serial frames on a pty, UDP through the host-name cache, and chrony's
// refclock socket.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <functional>

#include "child_process.h"
#include "devices/refclock_socket_posix.h"
#include "devices/serial_port.h"
#include "devices/udp_socket.h"
#include "platform/error.h"
#include "temp_folder.h"

namespace tidewell {
namespace {

using namespace std::chrono;

const std::string kFrame = "*161103120620260000000001000000000#";

// The number and description of the error `call` throws; 0 and "" when none.
std::pair<int, std::string> thrown(const std::function<void()>& call) {
    try {
        call();
    } catch (const Error& e) {
        return {e.number(), e.description()};
    }
    return {};
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
    std::vector<std::string> started;
    Status status{};
    std::chrono::steady_clock::time_point now{};
    SystemUdpSocket socket{[&](const std::string& name) {
                               started.push_back(name), status = Status::Pending;
                               return std::make_unique<ManualLookup>(status);
                           },
                           [&] { return now; }};
    socket.Protocol = UdpSocket::UdpProtocol, socket.RemotePort = port;
    socket.RemoteHost = "clocks.local";
    const auto send = [&] { return thrown([&] { socket.SendData(kFrame); }).first; };
    EXPECT_EQ(send(), errors::TransientSend);
    EXPECT_EQ(testing::readSome(receiver, 100), "") << "nothing goes out while the name is pending";
    status = Status::Failed;
    EXPECT_EQ(send(), errors::HostNotFound);
    now += HostNames::kRetryAfter - 1s;
    EXPECT_EQ(send(), errors::HostNotFound) << "every send in the back-off fails";
    now += 1s;
    EXPECT_EQ(send(), errors::TransientSend) << "a new lookup is under way";
    status = Status::Found;
    EXPECT_EQ(send(), 0);
    EXPECT_EQ(testing::readSome(receiver, 2000), kFrame);
    EXPECT_EQ(started, std::vector<std::string>(2, "clocks.local")) << "one lookup per try";
    ::close(receiver);
}

// Why a socket bound where chronyd would bind its own cannot be reached, without ever waiting
// (the chrony tests check the samples' layout and values).
TEST(PosixRefclockSocket, TellsWhyItCannotReachChronyWithoutWaiting) {
    testing::TempFolder dir;
    PosixRefclockSocket socket;
    socket.Path = dir.file("chrony.sock");
    const auto why = [&](const std::function<void()>& call) {
        const std::string d = thrown(call).second;  // after the operation and the path
        return d.empty() ? "no error" : d.substr(d.find(socket.Path) + socket.Path.size());
    };
    const auto chronyd = [&] {  // binds as chronyd does
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_un address{AF_UNIX, {}};
        std::strcpy(address.sun_path, socket.Path.c_str());
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        return fd;
    };
    EXPECT_EQ(why([&] { socket.check(); }), ": No such file or directory (chronyd is not running, "
                                            "or has no refclock SOCK line for it)");
    ::close(chronyd());
    EXPECT_EQ(why([&] { socket.check(); }),
              ": Connection refused (left by a chronyd that has stopped)");
    std::filesystem::remove(socket.Path);
    const int fd = chronyd();
    // A chronyd that reads nothing: the sends fail at once when its queue is full.
    std::string full;
    for (int i = 0; i < 100'000 && (full = why([&] { socket.send({}); })) == "no error";) ++i;
    EXPECT_EQ(full, ": Resource temporarily unavailable (chronyd is not reading its samples)");
    ::close(fd);
}

}  // namespace
}  // namespace tidewell
