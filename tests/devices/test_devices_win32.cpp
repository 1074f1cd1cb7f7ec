// The Windows devices on Wine's real Winsock and serial layers: UDP on loopback only, COM
// ports on a linked pair of pseudo-terminals that com_pair.py makes.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "devices/nmea_receiver.h"
#include "devices/port_names.h"
#include "devices/serial_port.h"
#include "devices/udp_socket.h"
#include "platform/error.h"
#include "platform/windows_error_win32.h"

namespace tidewell {
namespace {

const std::string kFrame = "*161103120620260000000001000000000#";

// The number of the Error `call` throws (0 for none), its text in lastError. With `settle`,
// again while it fails with 126 (a name still being looked up), for up to 30 s.
std::string lastError;
int outcome(const std::function<void()>& call, bool settle = false) {
    for (const auto end = ::GetTickCount64() + 30'000;; ::Sleep(20)) {
        try {
            return call(), 0;
        } catch (const Error& e) {
            lastError = e.description();
            if (!settle || e.number() != errors::TransientSend || ::GetTickCount64() > end)
                return e.number();
        }
    }
}

// A port of its own on loopback, which the socket under test cannot bind.
struct TakenPort {
    SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    int port = 0;
    TakenPort() {
        sockaddr_in a{AF_INET, 0, {}, {}};
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof a;
        ::bind(s, reinterpret_cast<sockaddr*>(&a), size);
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
        port = ntohs(a.sin_port);
    }
    ~TakenPort() { ::closesocket(s); }
};

TEST(SystemUdpSocket, UnknownHostsAndTakenPortsAreReportedInTheSystemsWords) {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    const TakenPort taken;
    SystemUdpSocket udp;
    udp.Protocol = UdpSocket::UdpProtocol;
    udp.RemotePort = taken.port;
    // A label over 63 characters: the resolver refuses the name without asking any server, so
    // no query leaves the machine. (Datagrams go end to end in the program's own test.)
    const std::string unknown = std::string(64, 'x') + ".invalid";
    udp.RemoteHost = unknown;
    EXPECT_EQ(outcome([&] { udp.SendData(kFrame); }, true), errors::HostNotFound);
    EXPECT_EQ(lastError, "Resolving " + unknown + ": " + windowsErrorText(WSAHOST_NOT_FOUND));

    udp.RemoteHost = "127.0.0.1";
    udp.LocalPort = taken.port;
    EXPECT_EQ(outcome([&] { udp.SendData(kFrame); }), WSAEADDRINUSE);
    EXPECT_EQ(lastError, "Binding UDP port " + std::to_string(taken.port) + ": " +
                             windowsErrorText(WSAEADDRINUSE));
    EXPECT_EQ(lastError.find("system error"), std::string::npos) << "in the system's words";
}

// com_pair.py (COM41 <-> COM42) as a Linux process, which only Wine can start. It runs while
// C:\com_pair.run exists, which goes when our handle closes: at unplug or when the test ends.
struct ComPair {
    HANDLE alive = ::CreateFileA("C:\\com_pair.run", GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    bool started = [] {
        std::string command = "/usr/bin/python3 " TIDEWELL_DEVICES_TEST_DIR "/com_pair.py 41 42";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        return ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                nullptr, &startup, &process) != 0;
    }();
    ~ComPair() { unplug(); }
    void unplug() { ::CloseHandle(std::exchange(alive, nullptr)); }
};

TEST(WindowsComPorts, AMissingPortIsReportedFramesGoWholeAndAnUnplugEndsTheSyncPort) {
    LineSerialPort sync(defaultDevicePath);
    sync.CommPort = 41;
    EXPECT_EQ(outcome([&] { sync.Output(kFrame); }), errors::PortClosed);
    EXPECT_EQ(outcome([&] { sync.PortOpen(true); }), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(lastError, "Opening COM41 (\\\\.\\COM41): " + windowsErrorText(ERROR_FILE_NOT_FOUND));
    ComPair pair;
    if (!pair.started) GTEST_SKIP() << "needs Wine and python3 for the pseudo-terminals";
    for (int i = 0; i < 100 && outcome([&] { sync.PortOpen(true); }) != 0; ++i) ::Sleep(50);
    ASSERT_TRUE(sync.PortOpen());

    // The receiver reads what the sync port writes. The test is the event loop: every signal
    // of the read's event goes to handleReadable.
    PortNmeaReceiver gps(defaultDevicePath, {});
    gps.PortNumber = 42;
    gps.OpenPort();
    const auto pump = [&](int ms) {
        for (const auto end = ::GetTickCount64() + ms; gps.isOpen() && ::GetTickCount64() < end;)
            if (::WaitForSingleObject(reinterpret_cast<HANDLE>(gps.readHandle()), 50) ==
                WAIT_OBJECT_0)
                gps.handleReadable();
    };
    for (int i = 0; i < 50; ++i) sync.Output(kFrame);
    pump(1000);
    EXPECT_EQ(gps.takeTally().bytes, (50 - sync.droppedWrites()) * kFrame.size())
        << "every frame whole or not at all";

    // A write fails once the port is gone, within seconds even on a loaded machine. (What the
    // receiver makes of an unplug, and its sentences, are the program's test under Wine.)
    pair.unplug();
    pump(3000);
    int failed = 0;
    for (int i = 0; i < 100 && !(failed = outcome([&] { sync.Output(kFrame); })); ++i) ::Sleep(100);
    EXPECT_NE(failed, 0);
    EXPECT_FALSE(sync.PortOpen());
    EXPECT_TRUE(sync.deviceLost());
}

}  // namespace
}  // namespace tidewell
