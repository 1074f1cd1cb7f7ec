#pragma once
// The PC clock: reading it, converting UTC to local time, and setting the local date and time
// of day. Real implementations per platform; tests use a fake.
#include "platform/system_time.h"

namespace tidewell {

// A local wall time and the UTC instant it stands for. Around a daylight-saving change one
// wall time can stand for two instants (or none); the UTC record says which one is meant.
struct ZonedTime {
    SystemTime local;
    SystemTime utc;
};

// Which local date a new time of day goes on.
enum class DateChoice {
    // Of the dates around the PC's own, the one that puts the new instant nearest the PC's
    // present one: setting the time alone then steps the clock, forward or back, by no more
    // than it was off (at most half a day, give or take a daylight-saving change), and never
    // by a day where the PC still shows the day before the target's or already the next.
    Nearest,
    // `target.local`'s own, for the set right after setLocalDate, so that the pair ends exactly
    // at `target.utc`: the PC then shows the target's date with its old time of day, which
    // near midnight lies nearer the same time on the next or the previous day.
    Target,
};

class SystemClock {
public:
    virtual ~SystemClock() = default;

    // The PC's current local date and time, milliseconds included, day of week filled.
    virtual SystemTime localNow() const = 0;

    // The PC's current UTC date and time, milliseconds included, day of week filled.
    virtual SystemTime utcNow() const = 0;

    // Converts a UTC record to local time using the zone's offset at that instant (daylight
    // saving included). Milliseconds carry through; the day of week is filled.
    virtual SystemTime utcToLocal(const SystemTime& utc) const = 0;

    // Sets the PC's local date to `target.local`'s and keeps its local time of day. Where that
    // wall time occurs twice, the pass of `target.utc` wins. Throws Error with the system's
    // description when the platform refuses (no right to change the clock).
    virtual void setLocalDate(const ZonedTime& target) = 0;

    // Sets the PC's local time of day to `target.local`'s, milliseconds included (zero for
    // whole seconds), on the local date `date` picks. Where that is `target.local`'s date, the
    // instant set is exactly `target.utc`. Throws Error like setLocalDate, and for fields that
    // name no time (or, with DateChoice::Target, no date); nothing is set then.
    virtual void setLocalTimeOfDay(const ZonedTime& target, DateChoice date) = 0;
};

}  // namespace tidewell
