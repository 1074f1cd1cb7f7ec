#include "gps/rmc_time.h"

#include <gtest/gtest.h>

#include "fakes.h"
#include "platform/error.h"

namespace tidewell {
namespace {

// An RMC date-time as the receiver reports it: whole seconds plus hundredths.
DateValue rmc(int y, int mo, int d, int h, int mi, int s, int hundredths = 0) {
    return *dateValueOf(y, mo, d, h, mi, s) + hundredths / 100.0 / 86400.0;
}

TEST(RmcType, UpperCasedExactMatch) {
    for (const char* yes : {"RMC", "rmc", "Rmc"})
        EXPECT_TRUE(isRmcType(yes)) << yes;
    for (const char* no : {"GPRMC", "GGA", "", "RM", " RMC"})
        EXPECT_FALSE(isRmcType(no)) << no;
}

TEST(AdvancedGpsTime, AboutOneSecondLaterAfterRounding) {
    const struct {
        const char* what;
        DateValue utc;
        const char* shown;
    } rows[] = {
        // clang-format off
        {"whole second: next second", rmc(2026, 12, 6, 12, 0, 0), "06-12-2026   12:00:01"},
        {"0.50 s: still the next", rmc(2026, 12, 6, 12, 0, 0, 50), "06-12-2026   12:00:01"},
        {"0.51 s: two later (advance is short of a second)", rmc(2026, 12, 6, 12, 0, 0, 51), "06-12-2026   12:00:02"},
        {"0.60 s: two later", rmc(2026, 12, 6, 12, 0, 0, 60), "06-12-2026   12:00:02"},
        {"last second of the year", rmc(2026, 12, 31, 23, 59, 59), "01-01-2027   0:00:00"},
        // clang-format on
    };
    for (const auto& r : rows)
        EXPECT_EQ(formatGpsDisplay(advancedGpsTime(r.utc)), r.shown) << r.what;
    EXPECT_THROW(advancedGpsTime(rmc(9999, 12, 31, 23, 59, 59)), Error);
}

TEST(GpsToLocal, ThroughTheClockInWholeSeconds) {
    fakes::FakeClock clock;
    clock.offsetMinutes = 600;
    const DateValue gps = advancedGpsTime(rmc(2026, 12, 5, 20, 30, 0));
    EXPECT_EQ(formatGpsDisplay(gps), "05-12-2026   20:30:01");
    EXPECT_EQ(formatLocalDisplay(gpsToLocal(gps, clock)), "6/12/26   6:30:01");

    clock.offsetMinutes = -300;
    EXPECT_EQ(formatLocalDisplay(gpsToLocal(advancedGpsTime(rmc(2027, 1, 1, 3, 0, 0)), clock)),
              "31/12/26   22:00:01");

    SystemTime seen{};
    clock.offsetAt = [&](const SystemTime& utc) {
        seen = utc;
        return 60;
    };
    const DateValue local = gpsToLocal(advancedGpsTime(rmc(2026, 12, 6, 8, 5, 0, 60)), clock);
    EXPECT_EQ(seen, (SystemTime{2026, 12, 0, 6, 8, 5, 2, 0})) << "record started at zeros";
    EXPECT_EQ(local, *dateValueOf(2026, 12, 6, 9, 5, 2)) << "no fraction left";
}

} // namespace
} // namespace tidewell
