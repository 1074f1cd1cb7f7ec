#pragma once
// Sets the PC clock from the GPS once a minute, at second 1 of every new minute.
#include <optional>

#include "gps/date_value.h"
#include "platform/system_clock.h"

namespace tidewell {

class ClockUpdate {
public:
    explicit ClockUpdate(SystemClock& clock) : clock_(clock) {}

    struct Outcome {
        bool due = false;      // second 1 of a new minute: a set was attempted
        bool dateSet = false;  // the date was set (Check3 ticked)
        bool timeSet = false;  // the time of day was set
    };

    // Runs the update for one local date value and the GPS (UTC) value it was made from, so
    // the clock is set to that instant even where the local time occurs twice. `useGpsDate`
    // is Check3's value; only 1 sets the date. The minute is remembered before anything is
    // set, so a refused set (an Error from the clock, passed on to the caller) is not retried
    // within that minute.
    Outcome apply(DateValue local, DateValue gps, int useGpsDate);

private:
    SystemClock& clock_;
    std::optional<int> rememberedMinute_;
};

}  // namespace tidewell
