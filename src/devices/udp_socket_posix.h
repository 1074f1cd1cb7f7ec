#pragma once
// The UDP sync output on BSD sockets: one non-blocking IPv4 socket bound to LocalPort, with
// broadcast allowed. Host names are looked up in the background so a send never waits for DNS.
#include <memory>
#include <netinet/in.h>
#include <string>

#include "devices/host_names.h"
#include "devices/udp_socket.h"

namespace tidewell {

// The C library's asynchronous resolver (getaddrinfo_a), IPv4 only.
std::unique_ptr<HostLookup> startSystemHostLookup(const std::string& name);

class PosixUdpSocket : public UdpSocket {
public:
    PosixUdpSocket();
    PosixUdpSocket(StartHostLookup startLookup, HostNames::Clock now);
    ~PosixUdpSocket() override;
    PosixUdpSocket(const PosixUdpSocket&) = delete;
    PosixUdpSocket& operator=(const PosixUdpSocket&) = delete;

    // Errors: 126 for a full buffer or a name still being looked up; errno with the system's
    // words otherwise ("Sending to 10.1.2.3:16000: Network is unreachable", "Binding UDP port
    // 16000: Address already in use"); errors::HostNotFound for "Resolving clocks.local: Name or
    // service not known".
    void SendData(std::string_view data) override;

private:
    void bindIfNeeded();
    in_addr resolve(const std::string& host);

    HostNames names_;
    int fd_ = -1;
    int boundPort_ = -1;
};

}  // namespace tidewell
