#pragma once
// The UDP sync output on BSD sockets: one non-blocking IPv4 socket bound to LocalPort, with
// broadcast allowed. Host names are looked up in the background so a send never waits for DNS.
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <string>

#include "devices/udp_socket.h"

namespace tidewell {

// One host-name lookup running in the background; poll() never blocks.
class HostLookup {
public:
    enum class Status { Pending, Found, Failed };
    virtual ~HostLookup() = default;
    virtual Status poll() = 0;
    virtual in_addr address() const = 0;    // valid once Found
    virtual std::string error() const = 0;  // once Failed: the resolver's words
};

using StartHostLookup = std::function<std::unique_ptr<HostLookup>(const std::string& name)>;

// The C library's asynchronous resolver (getaddrinfo_a), IPv4 only.
std::unique_ptr<HostLookup> startSystemHostLookup(const std::string& name);

class PosixUdpSocket : public UdpSocket {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // A failed name is looked up again no sooner than this.
    static constexpr std::chrono::seconds kRetryAfter{30};
    // A found name is looked up again after this, still sending to the old address meanwhile,
    // so a display that moves to a new address is followed.
    static constexpr std::chrono::minutes kRefreshAfter{60};

    PosixUdpSocket();
    PosixUdpSocket(StartHostLookup startLookup, Clock now);
    ~PosixUdpSocket() override;
    PosixUdpSocket(const PosixUdpSocket&) = delete;
    PosixUdpSocket& operator=(const PosixUdpSocket&) = delete;

    // Errors: 126 for a full buffer or a name still being looked up; errno with the system's
    // words otherwise ("Sending to 10.1.2.3:16000: Network is unreachable", "Binding UDP port
    // 16000: Address already in use"); errors::HostNotFound for "Resolving clocks.local: Name or
    // service not known".
    void SendData(std::string_view data) override;

private:
    struct NameEntry {
        std::optional<in_addr> address;
        std::unique_ptr<HostLookup> lookup;
        std::chrono::steady_clock::time_point settledAt;
        std::string failure;
        bool everStarted = false;
    };

    void bindIfNeeded();
    in_addr resolve(const std::string& host);

    StartHostLookup startLookup_;
    Clock now_;
    int fd_ = -1;
    int boundPort_ = -1;
    std::map<std::string, NameEntry> names_;
};

}  // namespace tidewell
