#include <gtest/gtest.h>

#include "devices/port_names.h"
#include "devices/udp_socket_posix.h"
#include "loopback_receiver.h"
#include "platform/error.h"

namespace tidewell {
namespace {

using namespace std::chrono_literals;

const std::string kFrame = "*161103120620260000000001000000000#";

TEST(PortNames, DevicePathForPortNumbers) {
    const std::map<int, std::string> overrides{{3, "/dev/serial/by-id/usb-FTDI-port0"}, {4, ""}};
    const struct {
        int port;
        std::string expected;
        const char* why;
    } rows[] = {
        {3, "/dev/serial/by-id/usb-FTDI-port0", "an override wins"},
        {4, "/dev/ttyS3", "an empty override falls back to the default"},
        {0, "", "no port number 0"},
    };
    for (const auto& r : rows) EXPECT_EQ(devicePathFor(r.port, overrides), r.expected) << r.why;
}

// Name lookups the test completes by hand, each one reporting `status`.
struct ManualLookups {
    std::vector<std::string> started;
    HostLookup::Status status{};
    struct Lookup : HostLookup {
        ManualLookups& all;
        explicit Lookup(ManualLookups& all) : all(all) {}
        Status poll() override { return all.status; }
        in_addr address() const override { return {htonl(INADDR_LOOPBACK)}; }
        std::string error() const override { return "Name or service not known"; }
    };
    std::unique_ptr<HostLookup> start(const std::string& name) {
        started.push_back(name);
        status = HostLookup::Status::Pending;
        return std::make_unique<Lookup>(*this);
    }
};

class UdpSocketLookup : public ::testing::Test {
protected:
    UdpSocketLookup() {
        socket.Protocol = UdpSocket::UdpProtocol;
        socket.RemotePort = receiver.port();
        socket.RemoteHost = "clocks.local";
    }
    int sendNumber() {
        try {
            socket.SendData(kFrame);
            return 0;
        } catch (const Error& e) {
            return e.number();
        }
    }

    testing::LoopbackReceiver receiver;
    ManualLookups lookups;
    std::chrono::steady_clock::time_point now{};
    PosixUdpSocket socket{[this](const std::string& n) { return lookups.start(n); },
                          [this] { return now; }};
};

TEST_F(UdpSocketLookup, PendingNameIsTransientThenSendsToTheFoundAddress) {
    EXPECT_EQ(sendNumber(), errors::TransientSend);
    EXPECT_EQ(receiver.receive(100).data, "") << "nothing goes out while the name is pending";
    lookups.status = HostLookup::Status::Found;
    EXPECT_EQ(sendNumber(), 0);
    EXPECT_EQ(receiver.receive().data, kFrame);
    EXPECT_EQ(lookups.started, std::vector<std::string>{"clocks.local"}) << "one lookup per name";
}

TEST_F(UdpSocketLookup, FailedNameIsRetriedOnlyAfterTheBackOff) {
    sendNumber();
    lookups.status = HostLookup::Status::Failed;
    EXPECT_EQ(sendNumber(), PosixUdpSocket::kHostNotFound);
    now += PosixUdpSocket::kRetryAfter - 1s;
    EXPECT_EQ(sendNumber(), PosixUdpSocket::kHostNotFound) << "every send in the back-off fails";
    now += 1s;
    EXPECT_EQ(sendNumber(), errors::TransientSend) << "a new lookup is under way";
}

}  // namespace
}  // namespace tidewell
