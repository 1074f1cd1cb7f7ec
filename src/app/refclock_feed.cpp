#include "app/refclock_feed.h"

#include <algorithm>
#include <utility>

namespace tidewell {

RefclockFeed::RefclockFeed(RefclockSocket* socket, ProgramEvents& events,
                           std::function<SteadyClock::time_point()> steadyNow,
                           std::function<RealClock::time_point()> realNow)
    : socket_(socket), events_(events),
      steadyNow_(steadyNow ? std::move(steadyNow) : SteadyClock::now),
      realNow_(realNow ? std::move(realNow) : RealClock::now) {}

void RefclockFeed::use(const std::string& path) {
    if (!socket_) return;
    socket_->Path = path;
    on_ = true;
}

const std::string& RefclockFeed::path() const {
    static const std::string none;
    return socket_ ? socket_->Path : none;
}

RefclockSample RefclockFeed::sampleOf(DateValue utc, SteadyClock::time_point arrived,
                                      std::chrono::milliseconds delay) const {
    using namespace std::chrono;
    const SteadyClock::time_point steady = steadyNow_();
    const RealClock::time_point real = realNow_();
    const auto since = arrived == SteadyClock::time_point{}
                           ? SteadyClock::duration::zero()
                           : std::max(steady - arrived, SteadyClock::duration::zero());
    RefclockSample sample;
    sample.pcTime = floor<microseconds>(real - since - delay);
    sample.offset = duration<double>(instantOf(utc) - sample.pcTime).count();
    return sample;
}

void RefclockFeed::check() {
    if (!on_) return;
    try {
        socket_->check();
        succeeded();
    } catch (const Error& e) {
        failed(e);
    }
}

void RefclockFeed::offer(DateValue utc, SteadyClock::time_point arrived,
                         std::chrono::milliseconds delay) {
    if (!on_ || failing()) return;
    try {
        const RefclockSample sample = sampleOf(utc, arrived, delay);
        socket_->send(sample);
        events_.refclockSample(sample);
    } catch (const Error& e) {
        failed(e);
    }
}

// Told when the reason is new; while it stays the same, the tries are quiet.
void RefclockFeed::failed(const Error& e) {
    if (failure_ == e.description()) return;
    failure_ = e.description();
    events_.refclockFailed(e);
}

void RefclockFeed::succeeded() {
    if (std::exchange(failure_, std::nullopt)) events_.refclockResumed(path());
}

}  // namespace tidewell
