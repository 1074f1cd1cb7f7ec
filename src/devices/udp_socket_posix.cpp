#include "devices/udp_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/error.h"

namespace tidewell {

std::optional<std::uint32_t> DatagramSocket::dottedAddress(const std::string& host) {
    in_addr numeric{};
    if (::inet_pton(AF_INET, host.c_str(), &numeric) != 1) return std::nullopt;
    return numeric.s_addr;
}

namespace {

sockaddr_in ipv4(std::uint32_t address, int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = address;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    return a;
}

}  // namespace

void DatagramSocket::bind(int port, const std::string& what) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) throw systemError(errno, what);
    const int on = 1;
    const sockaddr_in local = ipv4(htonl(INADDR_ANY), port);
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int number = errno;
        ::close(fd);
        throw systemError(number, what);
    }
    handle_ = fd;
}

std::optional<std::string> DatagramSocket::sendTo(std::uint32_t address, int port,
                                                  std::string_view data, const std::string& what) {
    const sockaddr_in remote = ipv4(address, port);
    ssize_t sent;
    do {
        sent = ::sendto(static_cast<int>(handle_), data.data(), data.size(), 0,
                        reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
    } while (sent < 0 && errno == EINTR);
    if (sent >= 0) return std::nullopt;
    const int number = errno;
    if (number == EAGAIN || number == EWOULDBLOCK || number == ENOBUFS)
        return std::strerror(number);
    throw systemError(number, what);
}

void DatagramSocket::close() {
    if (handle_ != -1) ::close(static_cast<int>(handle_));
    handle_ = -1;
}

}  // namespace tidewell
