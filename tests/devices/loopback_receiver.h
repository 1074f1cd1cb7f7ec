#pragma once
// A UDP receiver on loopback for the output tests, with a free-port finder.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace tidewell::testing {

struct Datagram {
    std::string data;
    int fromPort = 0;
};

class LoopbackReceiver {
public:
    // port 0 picks a free one; reuse lets it share a port the sender also binds.
    explicit LoopbackReceiver(int port = 0, const char* address = "127.0.0.1", bool reuse = true) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        if (reuse) ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<std::uint16_t>(port));
        ::inet_pton(AF_INET, address, &addr.sin_addr);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            throw std::runtime_error("receiver bind failed");
        socklen_t length = sizeof addr;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &length);
        port_ = ntohs(addr.sin_port);
    }
    ~LoopbackReceiver() { ::close(fd_); }
    LoopbackReceiver(const LoopbackReceiver&) = delete;
    LoopbackReceiver& operator=(const LoopbackReceiver&) = delete;

    int port() const { return port_; }

    // Nothing within the wait gives an empty data and fromPort 0.
    Datagram receive(int waitMs = 2000) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, waitMs) != 1) return {};
        char buffer[2048];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        ssize_t n =
            ::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (n < 0) return {};
        return {std::string(buffer, static_cast<std::size_t>(n)), ntohs(from.sin_port)};
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

// A port that was free a moment ago on every address.
inline int freeUdpPort() {
    LoopbackReceiver probe(0, "0.0.0.0", false);
    return probe.port();
}

}  // namespace tidewell::testing
