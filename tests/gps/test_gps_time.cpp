#include "gps/date_value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "fakes.h"
#include "gps/clock_update.h"
#include "platform/dry_run_clock.h"
#include "platform/error.h"

namespace tidewell {
namespace {

DateValue valueOf(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, double extra = 0) {
    return *dateValueOf(y, mo, d, h, mi, s) + extra / 86400.0;
}

TEST(DateValue, PartsRoundToTheWholeSecondAboveHalf) {
    const std::tuple<const char*, DateValue, DateParts> rows[] = {
        // clang-format off
        {"exact half second stays (1/256 day = 0:05:37.5)", 1.0 / 256, {1899, 12, 30, 0, 5, 37}},
        {"one ulp above it rounds up", std::nextafter(1.0 / 256, 1.0), {1899, 12, 30, 0, 5, 38}},
        {"carry into the next year", valueOf(2026, 12, 31, 23, 59, 59, 0.6), {2027, 1, 1, 0, 0, 0}},
        // clang-format on
    };
    for (const auto& [what, value, expected] : rows)
        EXPECT_EQ(datePartsOf(value), expected) << what;
    for (DateValue outside : {-657435.0, valueOf(9999, 12, 31, 23, 59, 59, 0.6), double(NAN)})
        EXPECT_THROW(datePartsOf(outside), Error) << outside;
}

// At second 1 of each new minute, the date first and only for 1. A refused date sets no time
// till the next minute; a dry run records what it would set and sets nothing, not even a date
// to be refused.
TEST(ClockUpdate, SetsAtSecondOneOfEachNewMinuteARefusedDateNoTimeADryRunNothing) {
    // Day, hour, minute and second of December 2026, the date option, the sets.
    const std::tuple<const char*, int, int, int, int, int, std::vector<std::string>> steps[] = {
        // clang-format off
        {"an empty memory counts as minute 0", 6, 11, 0, 1, 1, {}},
        {"second 0 never sets", 6, 11, 1, 0, 1, {}},
        {"second 1 of a new minute", 6, 11, 1, 1, 1, {"date 2026-12-06", "time 11:01:01"}},
        {"a second sentence in that minute", 6, 11, 1, 1, 1, {}},
        {"the same minute of the next hour is not new", 6, 12, 1, 1, 1, {}},
        {"the date only for 1", 7, 0, 0, 1, 2, {"time 00:00:01"}},
        // clang-format on
    };
    fakes::FakeClock clock;
    ClockUpdate update(clock);
    for (const auto& [what, day, hour, minute, second, useGpsDate, sets] : steps) {
        clock.sets.clear();
        const DateValue v = valueOf(2026, 12, day, hour, minute, second);
        update.apply(v, v, useGpsDate);
        EXPECT_EQ(clock.sets, sets) << what;
    }
    clock.sets.clear(), clock.refuse = true;
    const DateValue first = valueOf(2026, 12, 6, 10, 5, 1);
    EXPECT_THROW(update.apply(first, first, 1), Error);
    EXPECT_FALSE(update.apply(first, first, 1).due);
    EXPECT_EQ(clock.sets, std::vector<std::string>{"date 2026-12-06 refused"});
    DryRunClock dry(clock);
    ClockUpdate(dry).apply(first, first, 1);
    EXPECT_EQ(dry.lastSet()->text(), "time 10:05:01");
    EXPECT_EQ(clock.sets.size(), 1u);
}

}  // namespace
}  // namespace tidewell
