#pragma once
// The PC clock: reading local time, converting between UTC and local time, and setting the
// local date and time of day. Real implementations per platform; tests use a fake.
#include "platform/system_time.h"

namespace tidewell {

class SystemClock {
public:
    virtual ~SystemClock() = default;

    // The PC's current local date and time, milliseconds included, day of week filled.
    virtual SystemTime localNow() const = 0;

    // Converts a UTC record to local time using the zone's offset at that instant (daylight
    // saving included). Milliseconds carry through; the day of week is filled.
    virtual SystemTime utcToLocal(const SystemTime& utc) const = 0;

    // The reverse: a local record to UTC, at that instant's offset.
    virtual SystemTime localToUtc(const SystemTime& local) const = 0;

    // Sets the PC's local date and keeps its time of day. Throws Error with the system's
    // description when the platform refuses (no right to change the clock).
    virtual void setLocalDate(int year, int month, int day) = 0;

    // Sets the PC's local time of day with no fraction of a second and keeps the date.
    // Throws Error like setLocalDate.
    virtual void setLocalTimeOfDay(int hour, int minute, int second) = 0;
};

}  // namespace tidewell
