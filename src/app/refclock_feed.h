#pragma once
// Hands each fresh GPS time to chrony as a reference-clock sample instead of setting the
// clock. A socket that cannot be reached is told once with its reason and then tried quietly
// until it can; samples resume by themselves, and that is told once too.
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "app/program_events.h"
#include "devices/refclock_socket.h"
#include "gps/date_value.h"

namespace tidewell {

class RefclockFeed {
public:
    using SteadyClock = std::chrono::steady_clock;
    using RealClock = std::chrono::system_clock;

    // `socket` is null where the platform has no chrony. The clocks default to the real ones;
    // the steady one is the clock sentences are stamped by.
    RefclockFeed(RefclockSocket* socket, ProgramEvents& events,
                 std::function<SteadyClock::time_point()> steadyNow = {},
                 std::function<RealClock::time_point()> realNow = {});

    bool available() const { return socket_ != nullptr; }
    // Samples go to the socket at `path` from now on; nothing is sent or checked yet.
    void use(const std::string& path);
    bool on() const { return on_; }
    const std::string& path() const;
    // Between a failure and the next success: samples are not sent, only check() tries.
    bool failing() const { return failure_.has_value(); }

    // Tries to reach the socket (at start, then while failing).
    void check();
    // One valid, fresh RMC: the UTC time it names, when its first byte came (empty: just now)
    // and how long after that second the receiver sends. The PC time the second began at is
    // the first byte's steady stamp carried to the realtime clock now, less the delay.
    void offer(DateValue utc, SteadyClock::time_point arrived, std::chrono::milliseconds delay);

private:
    RefclockSample sampleOf(DateValue utc, SteadyClock::time_point arrived,
                            std::chrono::milliseconds delay) const;
    void failed(const Error& e);
    void succeeded();

    RefclockSocket* socket_;
    ProgramEvents& events_;
    std::function<SteadyClock::time_point()> steadyNow_;
    std::function<RealClock::time_point()> realNow_;
    bool on_ = false;
    std::optional<std::string> failure_;  // the reason told, while failing
};

}  // namespace tidewell
