#include "gps/date_value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "fakes.h"
#include "gps/clock_update.h"
#include "gps/rmc_time.h"
#include "platform/dry_run_clock.h"
#include "platform/error.h"

namespace tidewell {
namespace {

DateValue valueOf(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, double extra = 0) {
    return *dateValueOf(y, mo, d, h, mi, s) + extra / 86400.0;
}

TEST(DateValue, PartsRoundToTheWholeSecondAboveHalf) {
    const struct {
        const char* what;
        DateValue value;
        DateParts expected;
    } rows[] = {
        // clang-format off
        {"day number of a known date", 46362.5, {2026, 12, 6, 12, 0, 0}},
        {"0.4 s rounds down", valueOf(2026, 12, 6, 0, 0, 0, 0.4), {2026, 12, 6, 0, 0, 0}},
        {"0.6 s rounds up", valueOf(2026, 12, 6, 0, 0, 0, 0.6), {2026, 12, 6, 0, 0, 1}},
        {"exact half second stays (1/256 day = 0:05:37.5)", 1.0 / 256, {1899, 12, 30, 0, 5, 37}},
        {"one ulp above it rounds up", std::nextafter(1.0 / 256, 1.0), {1899, 12, 30, 0, 5, 38}},
        {"carry into the next year", valueOf(2026, 12, 31, 23, 59, 59, 0.6), {2027, 1, 1, 0, 0, 0}},
        // clang-format on
    };
    for (const auto& r : rows) EXPECT_EQ(datePartsOf(r.value), r.expected) << r.what;
    for (DateValue outside : {-657435.0, valueOf(9999, 12, 31, 23, 59, 59, 0.6), double(NAN)})
        EXPECT_THROW(datePartsOf(outside), Error) << outside;
}

TEST(Displays, Patterns) {
    const DateValue t = valueOf(2026, 12, 6, 9, 5, 1);
    EXPECT_EQ(formatGpsDisplay(t), "06-12-2026   9:05:01");
    EXPECT_EQ(formatLocalDisplay(t), "6/12/26   9:05:01");
    EXPECT_EQ(formatLocalDisplay(valueOf(2105, 10, 31, 23, 59, 59)), "31/10/05   23:59:59");
    EXPECT_EQ(formatPcDisplay(SystemTime{2026, 12, 0, 6, 9, 5, 1, 999}), "12-06-2026   09:05:01")
        << "month first; milliseconds dropped, not rounded";
}

TEST(AdvancedGpsTime, AboutOneSecondLaterAfterRounding) {
    const struct {
        const char* what;
        int hundredths;
        DateValue utc;
        const char* shown;
    } rows[] = {
        // clang-format off
        {"whole second: next second", 0, valueOf(2026, 12, 6, 12), "06-12-2026   12:00:01"},
        {"0.50 s: still the next", 50, valueOf(2026, 12, 6, 12), "06-12-2026   12:00:01"},
        {"0.60 s: two later", 60, valueOf(2026, 12, 6, 12), "06-12-2026   12:00:02"},
        {"last second of the year", 0, valueOf(2026, 12, 31, 23, 59, 59), "01-01-2027   0:00:00"},
        // clang-format on
    };
    for (const auto& r : rows)
        EXPECT_EQ(formatGpsDisplay(advancedGpsTime(r.utc + r.hundredths / 8640000.0)), r.shown)
            << r.what;
}

TEST(GpsToLocal, TenHoursEastIsTheNextDayAndWholeSeconds) {
    fakes::FakeClock clock;
    clock.offsetMinutes = 600;
    EXPECT_EQ(formatLocalDisplay(gpsToLocal(advancedGpsTime(valueOf(2026, 12, 5, 20, 30)), clock)),
              "6/12/26   6:30:01");

    clock.offsetMinutes = 60;
    EXPECT_EQ(gpsToLocal(advancedGpsTime(valueOf(2026, 12, 6, 8, 5, 0, 0.6)), clock),
              valueOf(2026, 12, 6, 9, 5, 2))
        << "no fraction left";
}

struct Step {
    int day, hour, minute, second;
    int useGpsDate = 0;
};

TEST(ClockUpdate, SetsAtSecondOneOfEachNewMinute) {
    const struct {
        const char* what;
        std::vector<Step> steps;
        std::vector<std::string> sets;
    } rows[] = {
        // clang-format off
        {"two sentences in one minute set once", {{6, 10, 5, 1}, {6, 10, 5, 1}}, {"time 10:05:01"}},
        {"59 then 0 differ", {{6, 10, 59, 1}, {6, 11, 0, 1}}, {"time 10:59:01", "time 11:00:01"}},
        {"empty memory counts as minute 0", {{6, 11, 0, 1}, {6, 11, 1, 1}}, {"time 11:01:01"}},
        {"same minute of the next hour is not new", {{6, 10, 5, 1}, {6, 11, 5, 1}}, {"time 10:05:01"}},
        {"seconds 0 and 2 never set", {{6, 10, 5, 0}, {6, 10, 5, 2}}, {}},
        {"date first, and only for 1", {{6, 23, 59, 1, 1}, {7, 0, 0, 1, 1}, {7, 0, 1, 1, 2}},
         {"date 2026-12-06", "time 23:59:01", "date 2026-12-07", "time 00:00:01", "time 00:01:01"}},
        // clang-format on
    };
    for (const auto& r : rows) {
        fakes::FakeClock clock;
        ClockUpdate update(clock);
        for (const Step& s : r.steps) {
            const DateValue v = valueOf(2026, 12, s.day, s.hour, s.minute, s.second);
            update.apply(v, v, s.useGpsDate);
        }
        EXPECT_EQ(clock.sets, r.sets) << r.what;
    }
}

TEST(ClockUpdate, RefusedSetIsRetriedOnlyNextMinute) {
    fakes::FakeClock clock;
    clock.refuse = true;
    ClockUpdate update(clock);
    const DateValue first = valueOf(2026, 12, 6, 10, 5, 1), next = valueOf(2026, 12, 6, 10, 6, 1);
    EXPECT_THROW(update.apply(first, first, 1), Error);
    EXPECT_FALSE(update.apply(first, first, 1).due);
    EXPECT_EQ(clock.sets, std::vector<std::string>{"date 2026-12-06 refused"});

    clock.refuse = false;
    const auto out = update.apply(next, next, 0);
    EXPECT_TRUE(out.due && out.timeSet && !out.dateSet);
    EXPECT_EQ(clock.sets.back(), "time 10:06:01");
}

TEST(DryRunClock, RecordsButNeverSets) {
    fakes::FakeClock inner;
    DryRunClock clock(inner);
    const ZonedTime midnight{{2026, 12, 1, 7, 0, 0, 1, 0}, {2026, 12, 1, 6, 23, 0, 1, 0}};
    clock.setLocalDate(midnight);
    clock.setLocalTimeOfDay(midnight);
    EXPECT_EQ(clock.lastSet()->text(), "time 00:00:01");
    EXPECT_TRUE(inner.sets.empty());
}

}  // namespace
}  // namespace tidewell
