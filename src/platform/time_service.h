#pragma once
// Another program that keeps the PC clock: an NTP client, the Windows Time service. With one
// running, every minute's set is undone by it and the clock never settles.
#include <functional>
#include <optional>
#include <string>

namespace tidewell {

class TimeServiceProbe {
public:
    // The service's name as its user knows it ("chronyd", "Windows Time (W32Time)"), or
    // nothing when none is keeping the clock or it cannot be told.
    using Done = std::function<void(std::optional<std::string> service)>;

    virtual ~TimeServiceProbe() = default;

    // Looks without blocking; `done` runs once on the loop's thread, at once or later, but
    // never after the probe is destroyed.
    virtual void probe(Done done) = 0;
};

}  // namespace tidewell
