#include "platform/dry_run_clock.h"

#include <gtest/gtest.h>

#include "fakes.h"

namespace tidewell {
namespace {

TEST(DryRunClock, ReadsThroughAndNeverSets) {
    fakes::FakeClock inner;
    inner.offsetMinutes = 60;
    const SystemTime before = inner.now;
    DryRunClock clock(inner);
    EXPECT_EQ(clock.localNow(), inner.now);
    EXPECT_EQ(clock.utcToLocal(before).wHour, 10);
    EXPECT_EQ(clock.localToUtc(before).wHour, 8);

    clock.setLocalDate(2026, 12, 7);
    clock.setLocalTimeOfDay(0, 0, 1);
    EXPECT_EQ(clock.lastSet()->text(), "time 00:00:01");
    EXPECT_EQ(clock.setCount(), 2);
    EXPECT_TRUE(inner.sets.empty());
    EXPECT_EQ(inner.now, before);
}

} // namespace
} // namespace tidewell
