#pragma once
// Host names for the UDP output, looked up in the background so a send never waits for DNS:
// while a lookup runs a send is transient (126), a failure holds for a back-off, and a found
// address is refreshed now and then, still used meanwhile. Each platform starts its lookups.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace tidewell {

// One host-name lookup running in the background; poll() never blocks.
class HostLookup {
public:
    enum class Status { Pending, Found, Failed };
    virtual ~HostLookup() = default;
    virtual Status poll() = 0;
    virtual std::uint32_t address() const = 0;  // once Found: IPv4, network byte order
    virtual std::string error() const = 0;      // once Failed: the resolver's words
};

using StartHostLookup = std::function<std::unique_ptr<HostLookup>(const std::string& name)>;

// This platform's resolver, IPv4 only: the C library's getaddrinfo_a on Linux (glibc), an
// overlapped GetAddrInfoExW on Windows.
std::unique_ptr<HostLookup> startSystemHostLookup(const std::string& name);

class HostNames {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // A failed name is looked up again no sooner than this.
    static constexpr std::chrono::seconds kRetryAfter{30};
    // A found name is looked up again after this, still sending to the old address meanwhile,
    // so a display that moves to a new address is followed.
    static constexpr std::chrono::minutes kRefreshAfter{60};

    HostNames(StartHostLookup startLookup, Clock now);
    ~HostNames();

    // The address of a host name (not a dotted address); throws Error 126 while it is being
    // looked up, errors::HostNotFound ("Resolving clocks.local: ...") when that failed.
    std::uint32_t addressOf(const std::string& host);

private:
    struct Entry {
        std::optional<std::uint32_t> address;
        std::unique_ptr<HostLookup> lookup;
        std::chrono::steady_clock::time_point settledAt;
        std::string failure;
        bool everStarted = false;
    };

    StartHostLookup startLookup_;
    Clock now_;
    std::map<std::string, Entry> names_;
};

}  // namespace tidewell
