#pragma once
// The UDP sync output on Winsock: one non-blocking IPv4 socket bound to LocalPort, with
// broadcast allowed. Host names are looked up in the background (an overlapped
// GetAddrInfoExW) so a send never waits for DNS.
#include <cstdint>
#include <string>

#include "devices/host_names.h"
#include "devices/udp_socket.h"

namespace tidewell {

class WindowsUdpSocket : public UdpSocket {
public:
    WindowsUdpSocket();
    ~WindowsUdpSocket() override;
    WindowsUdpSocket(const WindowsUdpSocket&) = delete;
    WindowsUdpSocket& operator=(const WindowsUdpSocket&) = delete;

    // Errors: 126 for full buffers (WSAEWOULDBLOCK, WSAENOBUFS) or a name still being looked
    // up; errors::HostNotFound (11001) for "Resolving clocks.local: No such host is known.";
    // otherwise the Winsock number with the system's words ("Binding UDP port 16000: ...").
    void SendData(std::string_view data) override;

private:
    void bindIfNeeded();
    std::uint32_t resolve(const std::string& host);

    std::uintptr_t socket_;
    int boundPort_ = -1;
    HostNames names_;
};

}  // namespace tidewell
