#pragma once
// The UDP sync output on Winsock: one non-blocking IPv4 socket bound to LocalPort, with
// broadcast allowed. Host names are looked up in the background (an overlapped
// GetAddrInfoExW) so a send never waits for DNS.
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "devices/udp_socket.h"

namespace tidewell {

class WindowsUdpSocket : public UdpSocket {
public:
    // A failed name is looked up again no sooner than this.
    static constexpr std::chrono::seconds kRetryAfter{30};
    // A found name is looked up again after this, still sending to the old address meanwhile,
    // so a display that moves to a new address is followed.
    static constexpr std::chrono::minutes kRefreshAfter{60};

    WindowsUdpSocket();
    ~WindowsUdpSocket() override;
    WindowsUdpSocket(const WindowsUdpSocket&) = delete;
    WindowsUdpSocket& operator=(const WindowsUdpSocket&) = delete;

    // Errors: 126 for full buffers (WSAEWOULDBLOCK, WSAENOBUFS) or a name still being looked
    // up; errors::HostNotFound (11001) for "Resolving clocks.local: No such host is known.";
    // otherwise the Winsock number with the system's words ("Binding UDP port 16000: ...").
    void SendData(std::string_view data) override;

private:
    class Lookup;
    struct NameEntry {
        NameEntry();
        ~NameEntry();
        NameEntry(NameEntry&&) noexcept;
        std::optional<std::uint32_t> address;  // network byte order
        std::unique_ptr<Lookup> lookup;
        std::chrono::steady_clock::time_point settledAt;
        std::string failure;
        bool everStarted = false;
    };

    void bindIfNeeded();
    std::uint32_t resolve(const std::string& host);

    std::uintptr_t socket_;
    int boundPort_ = -1;
    std::map<std::string, NameEntry> names_;
};

}  // namespace tidewell
