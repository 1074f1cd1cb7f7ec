#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

#include "devices/port_names.h"
#include "devices/udp_socket_posix.h"
#include "loopback_receiver.h"
#include "platform/error.h"

namespace tidewell {
namespace {

using namespace std::chrono_literals;
using testing::LoopbackReceiver;

const std::string kFrame = "*161103120620260000000001000000000#";

TEST(PortNames, DevicePathForPortNumbers) {
    const std::map<int, std::string> overrides{{3, "/dev/serial/by-id/usb-FTDI-port0"}, {4, ""}};
    struct Row {
        int port;
        std::string expected;
        const char* why;
    } rows[] = {
        {1, "/dev/ttyS0", "COM1 is the first on-board port"},
        {8, "/dev/ttyS7", "COM8 is the last listed port"},
        {3, "/dev/serial/by-id/usb-FTDI-port0", "an override wins"},
        {4, "/dev/ttyS3", "an empty override falls back to the default"},
        {0, "", "no port number 0"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(devicePathFor(row.port, overrides), row.expected) << row.why;
}

TEST(PortNames, LabelNamesPortAndDevice) {
    EXPECT_EQ(portLabel(3, "/dev/ttyS2"), "COM3 (/dev/ttyS2)");
    EXPECT_EQ(portLabel(3, ""), "COM3");
}

// A lookup the test completes by hand.
struct ManualLookups {
    struct State {
        HostLookup::Status status = HostLookup::Status::Pending;
        in_addr address{};
        std::string error;
    };
    std::vector<std::string> started;
    std::shared_ptr<State> current;

    StartHostLookup starter() {
        return [this](const std::string& name) {
            started.push_back(name);
            current = std::make_shared<State>();
            struct Lookup : HostLookup {
                std::shared_ptr<State> state;
                Status poll() override { return state->status; }
                in_addr address() const override { return state->address; }
                std::string error() const override { return state->error; }
            };
            auto lookup = std::make_unique<Lookup>();
            lookup->state = current;
            return lookup;
        };
    }
    void find(const char* dotted) {
        current->status = HostLookup::Status::Found;
        inet_pton(AF_INET, dotted, &current->address);
    }
    void fail(const char* why) {
        current->status = HostLookup::Status::Failed;
        current->error = why;
    }
};

class UdpSocketLookup : public ::testing::Test {
  protected:
    UdpSocketLookup() : socket(lookups.starter(), [this] { return now; }) {
        socket.Protocol = UdpSocket::UdpProtocol;
        socket.LocalPort = 0;
        socket.RemotePort = receiver.port();
        socket.RemoteHost = "clocks.local";
    }

    int sendNumber() {
        try {
            socket.SendData(kFrame);
            return 0;
        } catch (const Error& e) {
            lastError = e.description();
            return e.number();
        }
    }

    LoopbackReceiver receiver;
    ManualLookups lookups;
    std::chrono::steady_clock::time_point now{};
    PosixUdpSocket socket;
    std::string lastError;
};

TEST_F(UdpSocketLookup, PendingNameIsTransientThenSendsToFoundAddress) {
    EXPECT_EQ(sendNumber(), errors::TransientSend);
    EXPECT_EQ(lastError, "Resolving clocks.local: still in progress");
    EXPECT_EQ(sendNumber(), errors::TransientSend);
    EXPECT_EQ(receiver.receive(100).data, "") << "nothing goes out while the name is pending";

    lookups.find("127.0.0.1");
    EXPECT_EQ(sendNumber(), 0);
    EXPECT_EQ(receiver.receive().data, kFrame);
    now += 10min;
    EXPECT_EQ(sendNumber(), 0);
    EXPECT_EQ(receiver.receive().data, kFrame);
    EXPECT_EQ(lookups.started, std::vector<std::string>{"clocks.local"}) << "one lookup per name";
}

TEST_F(UdpSocketLookup, FailedNameReportsAndRetriesOnlyAfterBackOff) {
    sendNumber();
    lookups.fail("Name or service not known");
    EXPECT_EQ(sendNumber(), PosixUdpSocket::kHostNotFound);
    EXPECT_EQ(lastError, "Resolving clocks.local: Name or service not known");

    now += 29s;
    EXPECT_EQ(sendNumber(), PosixUdpSocket::kHostNotFound)
        << "every send in the back-off fails alike";
    EXPECT_EQ(lookups.started.size(), 1u);

    now += 1s;
    EXPECT_EQ(sendNumber(), errors::TransientSend) << "a new lookup is under way";
    EXPECT_EQ(lookups.started.size(), 2u);
    lookups.find("127.0.0.1");
    EXPECT_EQ(sendNumber(), 0);
    EXPECT_EQ(receiver.receive().data, kFrame);
}

TEST_F(UdpSocketLookup, RefreshKeepsSendingToOldAddressUntilItSettles) {
    sendNumber();
    lookups.find("127.0.0.1");
    ASSERT_EQ(sendNumber(), 0);
    receiver.receive();

    now += PosixUdpSocket::kRefreshAfter;
    EXPECT_EQ(sendNumber(), 0);
    EXPECT_EQ(lookups.started.size(), 2u);
    EXPECT_EQ(receiver.receive().data, kFrame);

    lookups.fail("Temporary failure in name resolution");
    EXPECT_EQ(sendNumber(), 0) << "a failed refresh keeps the last good address";
    EXPECT_EQ(receiver.receive().data, kFrame);
}

TEST_F(UdpSocketLookup, DottedAddressNeedsNoLookup) {
    socket.RemoteHost = "127.0.0.1";
    EXPECT_EQ(sendNumber(), 0);
    EXPECT_EQ(receiver.receive().data, kFrame);
    EXPECT_TRUE(lookups.started.empty());
}

TEST_F(UdpSocketLookup, SettingsThatCannotSendAreReported) {
    struct Row {
        int protocol;
        int remotePort;
        std::string host;
        int expected;
        const char* why;
    } rows[] = {
        {0, 16000, "127.0.0.1", PosixUdpSocket::kWrongProtocol, "protocol left at TCP"},
        {1, 0, "127.0.0.1", errors::InvalidPropertyValue, "no remote port"},
        {1, 70000, "127.0.0.1", errors::InvalidPropertyValue, "remote port past 65535"},
        {1, 16000, "", PosixUdpSocket::kHostNotFound, "no remote host"},
    };
    for (const auto& row : rows) {
        socket.Protocol = row.protocol;
        socket.RemotePort = row.remotePort;
        socket.RemoteHost = row.host;
        EXPECT_EQ(sendNumber(), row.expected) << row.why;
    }
    EXPECT_TRUE(lookups.started.empty());
}

TEST(UdpSocketBinding, PortHeldWithoutReuseFailsUntilFreed) {
    auto blocker = std::make_unique<LoopbackReceiver>(0, "127.0.0.1", false);
    const int port = blocker->port();
    LoopbackReceiver receiver;
    PosixUdpSocket socket;
    socket.Protocol = UdpSocket::UdpProtocol;
    socket.LocalPort = port;
    socket.RemotePort = receiver.port();
    socket.RemoteHost = "127.0.0.1";
    try {
        socket.SendData(kFrame);
        FAIL() << "bind should fail";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), EADDRINUSE);
        EXPECT_EQ(e.description(),
                  "Binding UDP port " + std::to_string(port) + ": Address already in use");
    }
    blocker.reset();
    socket.SendData(kFrame);
    const auto got = receiver.receive();
    EXPECT_EQ(got.data, kFrame);
    EXPECT_EQ(got.fromPort, port);
}

TEST(UdpSocketSystemLookup, LocalhostResolvesFromHostsFile) {
    LoopbackReceiver receiver;
    PosixUdpSocket socket;
    socket.Protocol = UdpSocket::UdpProtocol;
    socket.RemotePort = receiver.port();
    socket.RemoteHost = "localhost";
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    for (;;) {
        try {
            socket.SendData(kFrame);
            break;
        } catch (const Error& e) {
            ASSERT_EQ(e.number(), errors::TransientSend) << e.description();
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "lookup never finished";
            std::this_thread::sleep_for(10ms);
        }
    }
    EXPECT_EQ(receiver.receive().data, kFrame);
}

} // namespace
} // namespace tidewell
