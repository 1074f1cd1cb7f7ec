#include "broadcast/scheduler.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "fakes.h"
#include "gps/date_value.h"

namespace tidewell {
namespace {

using Settings = BroadcastScheduler::Settings;

SystemTime at(int d, int h, int mi, int s, int ms = 0) {
    using U = std::uint16_t;
    return {2026, 12, 0, U(d), U(h), U(mi), U(s), U(ms)};
}

using V = std::vector<std::string>;

// 100 ms ticks for `seconds` from `start`: the local times at which serial, and UDP, were due.
std::pair<V, V> simulate(const SystemTime& start, int seconds, const Settings& settings) {
    fakes::FakeClock clock;
    BroadcastScheduler scheduler(clock);
    DateValue base = 0;
    SystemTimeToDate(start, base);
    std::pair<V, V> due;
    for (int tenth = 0; tenth < seconds * 10; ++tenth) {
        DateToSystemTime(base + tenth / 10 / 86400.0, clock.now);
        clock.now.wMilliseconds = std::uint16_t(tenth % 10 * 100);
        const auto t = scheduler.tick(settings);
        const std::string when = formatPcDisplay(clock.now).substr(13);
        if (t.serialDue) due.first.push_back(when);
        if (t.udpDue) due.second.push_back(when);
    }
    return due;
}

TEST(Scheduler, DueTimesPerRate) {
    // Start, seconds simulated, the serial and the UDP rate, and when each was due.
    const std::tuple<const char*, SystemTime, int, RateCode, RateCode, V, V> rows[] = {
        // clang-format off
        {"unset and 0: every second", at(6, 9, 5, 59), 3, std::nullopt, 0, {"09:05:59", "09:06:00", "09:06:01"}, {"09:05:59", "09:06:00", "09:06:01"}},
        {"hour and day", at(6, 9, 59, 59), 3602, 2, 3, {"09:59:59", "10:00:00", "11:00:00"}, {"09:59:59"}},
        {"day: local midnight", at(6, 23, 59, 58), 4, 3, 3, {"23:59:58", "00:00:00"}, {"23:59:58", "00:00:00"}},
        {"unknown codes never", at(6, 9, 5, 58), 4, 4, -1, {}, {}},
        // clang-format on
    };
    for (const auto& [what, start, seconds, serial, udp, serialDue, udpDue] : rows)
        EXPECT_EQ(simulate(start, seconds, Settings{serial, udp, {}, 0}),
                  std::pair(serialDue, udpDue))
            << what;
}

TEST(Scheduler, RepeatedSecondsTextDoesNothing) {
    fakes::FakeClock clock;
    BroadcastScheduler scheduler(clock);
    const Settings local{1, 1, false, 0};
    clock.now = at(6, 9, 5, 1);
    ASSERT_TRUE(scheduler.tick(local).newSecond);
    const std::string frame = scheduler.CurrentSyncFrame();

    clock.now = at(6, 9, 4, 1, 100);
    const auto back = scheduler.tick(local);
    EXPECT_FALSE(back.newSecond || back.serialDue || back.udpDue) << "clock set back a minute";
    EXPECT_EQ(scheduler.CurrentSyncFrame(), frame);

    clock.now = at(6, 9, 4, 2);
    EXPECT_TRUE(scheduler.tick(local).serialDue) << "minute text 04 differs from mark 05";
}

}  // namespace
}  // namespace tidewell
