#include "devices/udp_socket.h"

// Winsock before windows.h, which would bring in the old winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include "platform/error.h"
#include "platform/windows_error_win32.h"

namespace tidewell {

// handle_ holds a SOCKET, INVALID_SOCKET as -1.
static_assert(static_cast<std::intptr_t>(INVALID_SOCKET) == -1);

std::optional<std::uint32_t> DatagramSocket::dottedAddress(const std::string& host) {
    in_addr numeric{};
    if (::inet_pton(AF_INET, host.c_str(), &numeric) != 1) return std::nullopt;
    return numeric.s_addr;
}

namespace {

void startWinsock() {
    static const int result = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (result != 0) throw windowsError(static_cast<unsigned long>(result), "Starting Winsock");
}

sockaddr_in ipv4(std::uint32_t address, int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = address;
    a.sin_port = htons(static_cast<u_short>(port));
    return a;
}

}  // namespace

void DatagramSocket::bind(int port, const std::string& what) {
    startWinsock();
    const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) throw windowsError(::WSAGetLastError(), what);
    const BOOL on = TRUE;
    u_long nonBlocking = 1;
    const sockaddr_in local = ipv4(htonl(INADDR_ANY), port);
    if (::setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) !=
            0 ||
        ::ioctlsocket(s, FIONBIO, &nonBlocking) != 0 ||
        ::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int number = ::WSAGetLastError();
        ::closesocket(s);
        throw windowsError(static_cast<unsigned long>(number), what);
    }
    handle_ = static_cast<std::intptr_t>(s);
}

std::optional<std::string> DatagramSocket::sendTo(std::uint32_t address, int port,
                                                  std::string_view data, const std::string& what) {
    const sockaddr_in remote = ipv4(address, port);
    if (::sendto(static_cast<SOCKET>(handle_), data.data(), static_cast<int>(data.size()), 0,
                 reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != SOCKET_ERROR)
        return std::nullopt;
    const auto number = static_cast<unsigned long>(::WSAGetLastError());
    if (number == WSAEWOULDBLOCK || number == WSAENOBUFS) return windowsErrorText(number);
    throw windowsError(number, what);
}

void DatagramSocket::close() {
    if (handle_ != -1) ::closesocket(static_cast<SOCKET>(handle_));
    handle_ = -1;
}

}  // namespace tidewell
