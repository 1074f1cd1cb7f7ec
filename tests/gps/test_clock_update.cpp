#include "gps/clock_update.h"

#include <gtest/gtest.h>

#include <vector>

#include "fakes.h"
#include "platform/error.h"

namespace tidewell {
namespace {

struct Step {
    int day, hour, minute, second;
    int useGpsDate = 0;
};

DateValue local(const Step& s) {
    return *dateValueOf(2026, 12, s.day, s.hour, s.minute, s.second);
}

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
        for (const Step& s : r.steps)
            update.apply(local(s), s.useGpsDate);
        EXPECT_EQ(clock.sets, r.sets) << r.what;
    }
}

TEST(ClockUpdate, RefusedSetIsRetriedOnlyNextMinute) {
    fakes::FakeClock clock;
    clock.refuse = true;
    ClockUpdate update(clock);
    EXPECT_THROW(update.apply(local({6, 10, 5, 1}), 1), Error);
    EXPECT_EQ(update.rememberedMinute(), 5) << "remembered before the set";
    EXPECT_FALSE(update.apply(local({6, 10, 5, 1}), 1).due);
    EXPECT_EQ(clock.sets, std::vector<std::string>{"date 2026-12-06 refused"});

    clock.refuse = false;
    const auto out = update.apply(local({6, 10, 6, 1}), 0);
    EXPECT_TRUE(out.due && out.timeSet && !out.dateSet);
    EXPECT_EQ(clock.sets.back(), "time 10:06:01");
}

} // namespace
} // namespace tidewell
