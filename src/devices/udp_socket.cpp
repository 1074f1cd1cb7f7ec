#include "devices/udp_socket.h"

#include "platform/error.h"

namespace tidewell {

SystemUdpSocket::SystemUdpSocket()
    : SystemUdpSocket(startSystemHostLookup, [] { return std::chrono::steady_clock::now(); }) {}

SystemUdpSocket::SystemUdpSocket(StartHostLookup startLookup, HostNames::Clock now)
    : names_(std::move(startLookup), std::move(now)) {}

void SystemUdpSocket::bindIfNeeded() {
    if (socket_.isOpen() && boundPort_ == LocalPort) return;
    socket_.close();
    const std::string what = "Binding UDP port " + std::to_string(LocalPort);
    if (LocalPort < 0 || LocalPort > 65535)
        throw Error(errors::InvalidPropertyValue, what + ": not a port number");
    socket_.bind(LocalPort, what);
    boundPort_ = LocalPort;
}

std::uint32_t SystemUdpSocket::resolve(const std::string& host) {
    if (const auto numeric = DatagramSocket::dottedAddress(host)) return *numeric;
    if (host.empty()) throw Error(errors::HostNotFound, "Sending: no remote host is set");
    return names_.addressOf(host);
}

void SystemUdpSocket::SendData(std::string_view data) {
    const std::string what = "Sending to " + RemoteHost + ":" + std::to_string(RemotePort);
    if (Protocol != UdpProtocol)
        throw Error(errors::WrongProtocol, what + ": the socket is not set to UDP");
    if (RemotePort < 1 || RemotePort > 65535)
        throw Error(errors::InvalidPropertyValue, what + ": not a port number");

    bindIfNeeded();
    const std::uint32_t address = resolve(RemoteHost);
    if (const auto full = socket_.sendTo(address, RemotePort, data, what))
        throw Error(errors::TransientSend, what + ": " + *full);
}

}  // namespace tidewell
