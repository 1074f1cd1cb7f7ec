// The time rules as properties over every offset change of many zones: what the program shows,
// sets and sends around each change, against the C library's own reading of the zone.
#include "platform/system_clock_linux.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "../settings/temp_folder.h"
#include "broadcast/scheduler.h"
#include "gps/clock_update.h"
#include "gps/rmc_time.h"
#include "platform/error.h"

namespace tidewell {
namespace {

using namespace std::chrono;

std::string strftimeOf(std::time_t t, const char* pattern, bool utc) {
    std::tm tm{};
    utc ? gmtime_r(&t, &tm) : localtime_r(&t, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, pattern, &tm);
    return buf;
}

std::time_t utcInstant(year_month_day day, seconds time = {}) {
    return system_clock::to_time_t(sys_days(day) + time);
}

// Every instant in [from, to) at which the current zone's offset changes.
std::vector<std::time_t> offsetChanges(std::time_t from, std::time_t to) {
    std::vector<std::time_t> changes;
    for (std::time_t t = from; t + 86400 <= to; t += 86400) {
        std::time_t lo = t, hi = t + 86400;
        if (localOffsetAt(lo) == localOffsetAt(hi)) continue;
        while (hi - lo > 1) {
            const std::time_t mid = lo + (hi - lo) / 2;
            (localOffsetAt(mid) == localOffsetAt(lo) ? lo : hi) = mid;
        }
        changes.push_back(hi);
    }
    return changes;
}

// Days since 1899-12-30, which is 25569 days before 1970-01-01.
DateValue dateValueAt(std::time_t t) {
    return 25569 + t / 86400 + t % 86400 / 86400.0;
}

// A Linux clock whose reads and sets go through seams: the machine's clock is never touched.
struct SeamClock {
    timespec now{};
    std::vector<std::pair<std::time_t, long>> sets;
    bool refuse = false;
    LinuxSystemClock clock{[this](const timespec& ts) {
                               sets.emplace_back(ts.tv_sec, ts.tv_nsec);
                               if (refuse) return errno = EPERM, -1;
                               now = ts;
                               return 0;
                           },
                           [this] { return now; }};
};

class ZoneChanges : public ::testing::TestWithParam<const char*> {};

// Minute by minute from two hours before to two hours after each change, 2000 to 2037: a
// sentence for second 0 of every UTC minute, the PC clock in step with it.
TEST_P(ZoneChanges, ShownSetAndSentTimesAreTheTrueInstant) {
    if (!std::filesystem::exists(std::string("/usr/share/zoneinfo/") + GetParam()))
        FAIL() << "tzdata lacks " << GetParam();
    testing::EnvOverride zone("TZ", GetParam());
    // A zone without changes (Kathmandu's 5:45) is still checked across a new year.
    auto changes = offsetChanges(utcInstant(2000y / 1 / 1), utcInstant(2037y / 12 / 31));
    changes.push_back(utcInstant(2027y / 1 / 1));

    SeamClock pc;
    ClockUpdate update(pc.clock);
    std::chrono::steady_clock::time_point steadyNow{};
    ClockUpdate precise(pc.clock, [&] { return steadyNow; });
    int failures = 0;
    for (std::time_t change : changes) {
        const std::time_t first = change - change % 60 - 2 * 3600;
        for (std::time_t t = first - 60; t <= first + 4 * 3600 && failures < 5; t += 60) {
            const std::time_t shown = t + 1;  // the receive advance, rounded
            SCOPED_TRACE(GetParam() + strftimeOf(t, " %F %T UTC", true));

            pc.now = {t, 400'000'000};
            pc.sets.clear();
            const DateValue gps = advancedGpsTime(dateValueAt(t));
            const DateValue local = gpsToLocal(gps, pc.clock);
            EXPECT_EQ(formatLocalDisplay(local),
                      strftimeOf(shown, "%-d/%-m/%y   %-H:%M:%S", false));

            // The minute before each window only primes the remembered minute.
            const bool due = update.apply(local, gps, 1).due;
            if (t >= first) {
                EXPECT_TRUE(due);
                EXPECT_EQ(pc.sets, (decltype(pc.sets){{t, 400'000'000}, {shown, 0}}))
                    << "the date set keeps the clock's instant, the time set is the shown second";
            }

            // Precise: the sentence's second, plus the receiver's delay, plus the time since its
            // first byte, to the millisecond, whatever the PC clock read.
            const long delayMs = t / 60 % 1000, sinceMs = t / 60 % 97;
            steadyNow += std::chrono::hours(1);
            pc.now = {t - 3600 * (t % 3), 0};
            pc.sets.clear();
            const auto out = precise.apply(
                local, gps, 1,
                ClockUpdate::Precise{dateValueAt(t), std::chrono::milliseconds(delayMs),
                                     steadyNow - std::chrono::milliseconds(sinceMs)});
            if (t >= first) {
                const long ms = delayMs + sinceMs;
                ASSERT_EQ(pc.sets.size(), 2u);
                EXPECT_EQ(pc.sets[1], std::make_pair(t + ms / 1000, ms % 1000 * 1'000'000))
                    << "precise, " << delayMs << " ms delay, " << sinceMs << " ms since";
                EXPECT_EQ(out.wasAhead->count(), -3'600'000 * (t % 3) - ms);
            }

            for (bool utc : {true, false}) {
                pc.now = {shown, 1'000'000};
                BroadcastScheduler scheduler(pc.clock);
                ASSERT_TRUE(scheduler.tick({0, 0, utc, 0}).newSecond);
                EXPECT_EQ(scheduler.CurrentSyncFrame().substr(0, 15),
                          strftimeOf(shown, utc ? "*%S%M%H%m%d%Y" : "*%S%M%H%d%m%Y", utc));
            }
            if (HasFailure()) ++failures;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Zones, ZoneChanges,
                         ::testing::Values("Europe/Berlin", "America/New_York",
                                           "Australia/Lord_Howe", "Antarctica/Troll",
                                           "Pacific/Apia", "Pacific/Chatham", "Asia/Kathmandu",
                                           "America/St_Johns", "Europe/London", "Europe/Dublin",
                                           "America/Sao_Paulo", "America/Havana", "Asia/Beirut",
                                           "Asia/Tehran", "Australia/Adelaide", "America/Santiago",
                                           "Africa/Casablanca", "Europe/Moscow", "America/Asuncion",
                                           "Pacific/Kiritimati"),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '/', '_');
                             return name;
                         });

TEST(LinuxClock, RefusalsAndImpossibleFieldsThrowAndNothingImpossibleIsSet) {
    testing::EnvOverride zone("TZ", "Europe/Berlin");
    SeamClock pc;
    pc.now = {utcInstant(2026y / 12 / 6, 8h + 5min + 1s), 0};
    pc.refuse = true;
    const ZonedTime target{{2026, 12, 0, 6, 9, 5, 1, 0}, {2026, 12, 0, 6, 8, 5, 1, 0}};
    EXPECT_THROW(pc.clock.setLocalTimeOfDay(target), Error);
    ZonedTime impossible = target;
    impossible.local.wMonth = 2, impossible.local.wDay = 29, impossible.local.wYear = 2025;
    EXPECT_THROW(pc.clock.setLocalDate(impossible), Error);
    EXPECT_EQ(pc.sets.size(), 1u) << "impossible fields never reach the clock";
}

}  // namespace
}  // namespace tidewell
