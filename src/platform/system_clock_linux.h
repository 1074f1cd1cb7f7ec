#pragma once
// The PC clock on Linux: read with clock_gettime and the C library's zone rules (TZ or
// /etc/localtime), set with clock_settime, which needs CAP_SYS_TIME.
#include <ctime>
#include <functional>

#include "platform/system_clock.h"

namespace tidewell {

// Offset of local time from UTC, in seconds east, at a UTC instant.
using OffsetAt = std::function<long(std::time_t utc)>;

// The process's local zone offset at a UTC instant (tm_gmtoff of localtime_r).
long localOffsetAt(std::time_t utc);

// The UTC instant of a local wall-clock time, the wall fields encoded as if they were UTC
// (timegm). Deterministic around daylight-saving changes:
// - a wall time that occurs twice (the hour repeated when clocks go back) gives the earlier
//   instant, the first pass, still on the offset in force before the change;
// - a wall time that never occurs (the hour skipped when clocks go forward) is read with the
//   offset in force before the change, so 02:30 on a day that jumps from 02:00 to 03:00 is
//   the instant shown afterwards as 03:30.
// Assumes at most one offset change within a day either side of the wall time.
std::time_t resolveLocalWall(std::time_t wall, const OffsetAt& offsetAt);

// The instant to set for a new local date keeping the local time of day of `now`
// (nanoseconds included). Throws Error(EINVAL) for a date that does not exist.
timespec localDateTarget(const timespec& now, const ZonedTime& target);

// The instant to set for a new local time of day, with the target's milliseconds, on the
// local date `date` picks against `now`. Throws Error(EINVAL) for a time outside
// 00:00:00..23:59:59.999, or with DateChoice::Target a date that does not exist.
timespec localTimeOfDayTarget(const timespec& now, const ZonedTime& target, DateChoice date);

class LinuxSystemClock : public SystemClock {
public:
    // Sets the real clock: returns 0, or -1 with errno set, as clock_settime does.
    using Setter = std::function<int(const timespec&)>;
    using Reader = std::function<timespec()>;

    // Empty arguments mean the real clock_settime / clock_gettime on CLOCK_REALTIME.
    explicit LinuxSystemClock(Setter setter = {}, Reader reader = {});

    SystemTime localNow() const override;
    SystemTime utcNow() const override;
    SystemTime utcToLocal(const SystemTime& utc) const override;
    // Each is one clock_settime call; a refusal throws Error(errno, "Setting the clock: ...").
    void setLocalDate(const ZonedTime& target) override;
    void setLocalTimeOfDay(const ZonedTime& target, DateChoice date) override;

private:
    void set(const timespec& target);

    Setter setter_;
    Reader reader_;
};

}  // namespace tidewell
