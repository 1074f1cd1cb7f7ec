#pragma once
// The UDP sync output component: one socket bound to LocalPort, one datagram per SendData.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "devices/host_names.h"

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

// One non-blocking IPv4 UDP socket of this machine, broadcast allowed: the socket calls, which
// each platform supplies. Error numbers are errno values or Winsock's.
class DatagramSocket {
public:
    DatagramSocket() = default;
    ~DatagramSocket() { close(); }
    DatagramSocket(const DatagramSocket&) = delete;
    DatagramSocket& operator=(const DatagramSocket&) = delete;

    bool isOpen() const { return handle_ != -1; }
    // Opens one bound to `port` on every address while none is open; throws Error ("<what>:
    // Address already in use").
    void bind(int port, const std::string& what);
    // Does nothing when none is open.
    void close();
    // A dotted IPv4 address in network byte order; empty for anything else.
    static std::optional<std::uint32_t> dottedAddress(const std::string& host);
    // Sends one datagram to `address` (network byte order) without waiting. Returns the
    // system's words for a full buffer, which the next frame may not meet; throws Error
    // ("<what>: Network is unreachable") for other failures.
    std::optional<std::string> sendTo(std::uint32_t address, int port, std::string_view data,
                                      const std::string& what);

private:
    std::intptr_t handle_ = -1;  // a descriptor, or a SOCKET (INVALID_SOCKET is -1 here)
};

// The UDP output on this machine's sockets: one socket bound to LocalPort, host names looked
// up in the background so a send never waits for DNS.
class SystemUdpSocket : public UdpSocket {
public:
    // This platform's resolver and the steady clock.
    SystemUdpSocket();
    SystemUdpSocket(StartHostLookup startLookup, HostNames::Clock now);

    // Errors: 126 for a full buffer or a name still being looked up; errors::HostNotFound
    // (11001) for "Resolving clocks.local: Name or service not known"; otherwise the system's
    // number and words ("Sending to 10.1.2.3:16000: Network is unreachable", "Binding UDP port
    // 16000: Address already in use").
    void SendData(std::string_view data) override;

private:
    void bindIfNeeded();
    std::uint32_t resolve(const std::string& host);

    HostNames names_;
    DatagramSocket socket_;
    int boundPort_ = -1;
};

}  // namespace tidewell
