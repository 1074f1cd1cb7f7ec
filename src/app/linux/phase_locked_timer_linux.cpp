#include "app/linux/phase_locked_timer_linux.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <string>

namespace tidewell {

PhaseLockedTimer::PhaseLockedTimer(int periodMs) : periodNs_(long(periodMs) * 1'000'000L) {
    fd_ = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ < 0)
        throw std::runtime_error(std::string("Creating the tick timer: ") + std::strerror(errno));
    try {
        arm();
    } catch (...) {
        ::close(fd_);
        throw;
    }
}

PhaseLockedTimer::~PhaseLockedTimer() {
    ::close(fd_);
}

void PhaseLockedTimer::arm() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    // Next boundary strictly after now, so the first tick never lands before it.
    long next = (now.tv_nsec / periodNs_ + 1) * periodNs_;
    itimerspec spec{};
    spec.it_value.tv_sec = now.tv_sec + next / 1'000'000'000L;
    spec.it_value.tv_nsec = next % 1'000'000'000L;
    spec.it_interval.tv_sec = periodNs_ / 1'000'000'000L;
    spec.it_interval.tv_nsec = periodNs_ % 1'000'000'000L;
    if (::timerfd_settime(fd_, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &spec, nullptr) != 0)
        throw std::runtime_error(std::string("Arming the tick timer: ") + std::strerror(errno));
}

bool PhaseLockedTimer::expired() {
    std::uint64_t expirations = 0;
    if (::read(fd_, &expirations, sizeof expirations) >= 0) return true;
    if (errno != ECANCELED) return false;
    // The clock was stepped: lock onto the new phase and tick now.
    arm();
    return true;
}

}  // namespace tidewell
