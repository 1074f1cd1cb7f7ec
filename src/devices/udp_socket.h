#pragma once
// The UDP sync output component: one socket bound to LocalPort, one datagram per SendData.
#include <string>
#include <string_view>

namespace tidewell {

class UdpSocket {
public:
    virtual ~UdpSocket() = default;

    static constexpr int UdpProtocol = 1;

    int Protocol = 0;
    int RemotePort = 0;
    int LocalPort = 0;
    // A dotted address or a host name.
    std::string RemoteHost;

    // Sends the bytes as one datagram to RemoteHost:RemotePort from LocalPort. Throws Error
    // with a number and the system's description; number 126 means "transient, try the next
    // frame" (full buffers, a host name still being resolved).
    virtual void SendData(std::string_view data) = 0;
};

}  // namespace tidewell
