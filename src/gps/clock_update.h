#pragma once
// Sets the PC clock from the GPS once a minute, at second 1 of every new minute.
#include <chrono>
#include <functional>
#include <optional>
#include <utility>

#include "gps/date_value.h"
#include "platform/error.h"
#include "platform/system_clock.h"

namespace tidewell {

class ClockUpdate {
public:
    using SteadyClock = std::chrono::steady_clock;

    // `steadyNow` measures how long ago a sentence came; empty means the real steady clock.
    explicit ClockUpdate(SystemClock& clock,
                         std::function<SteadyClock::time_point()> steadyNow = {});

    // What precise setting knows of the sentence: its own UTC, the receiver's steady delay
    // after the second it names, and when its first byte came (empty: just now).
    struct Precise {
        DateValue utc = 0;
        std::chrono::milliseconds receiverDelay{0};
        SteadyClock::time_point arrived{};
    };

    struct Outcome {
        bool due = false;      // second 1 of a new minute: a set was attempted
        bool dateSet = false;  // the date was set (Check3 ticked)
        bool timeSet = false;  // the time of day was set
        // Precise setting only: the local time set, to the millisecond.
        std::optional<SystemTime> setTo;
        // The UTC instant set, and how far ahead of it the clock was just before (negative:
        // behind); in whole seconds the instant carries the fixed advance, so a clock in step
        // reads about the receiver's delay less a second.
        std::optional<Instant> target;
        std::optional<std::chrono::milliseconds> wasAhead;
    };

    // The clock's refusal of a due update: its error, and what was to be set (what was set
    // before the refusal, the date, stays set and says so).
    class Refused : public Error {
    public:
        Refused(const Error& e, Outcome attempt) : Error(e), attempt_(std::move(attempt)) {}
        const Outcome& attempt() const { return attempt_; }

    private:
        Outcome attempt_;
    };

    // Runs the update for one local date value and the GPS (UTC) value it was made from, so
    // the clock is set to that instant even where the local time occurs twice. `useGpsDate`
    // is Check3's value; only 1 sets the date. Without it the time goes on the local date
    // nearest the PC's instant, so a PC a moment either side of midnight is not thrown a day
    // out. The minute is remembered before anything is set, so a refused set (a Refused,
    // thrown on to the caller) is not retried within that minute.
    // With `precise`, the moment is the same, but the instant set is the sentence's UTC plus
    // the receiver's delay plus the time since its first byte came, to the millisecond.
    Outcome apply(DateValue local, DateValue gps, int useGpsDate,
                  const std::optional<Precise>& precise = std::nullopt);

private:
    ZonedTime preciseTarget(const Precise& precise) const;

    SystemClock& clock_;
    std::function<SteadyClock::time_point()> steadyNow_;
    std::optional<int> rememberedMinute_;
};

}  // namespace tidewell
