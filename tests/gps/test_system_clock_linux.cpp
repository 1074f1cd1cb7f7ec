// The time rules as properties over every offset change and many midnights of many zones: what
// the program shows, sets and sends there, against the C library's own reading of the zone.
#include "platform/system_clock_linux.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "broadcast/scheduler.h"
#include "clock_property.h"
#include "platform/error.h"
#include "temp_folder.h"

namespace tidewell {
namespace {

using namespace std::chrono;

std::string strftimeOf(std::time_t t, const char* pattern, bool utc) {
    std::tm tm{};
    char buf[64];
    std::strftime(buf, sizeof buf, pattern, utc ? gmtime_r(&t, &tm) : localtime_r(&t, &tm));
    return buf;
}

// A Linux clock whose reads and sets go through seams: the machine's clock is never touched.
struct SeamClock {
    Instant now;
    std::vector<Instant> sets;
    bool refuse = false;
    LinuxSystemClock clock{
        [this](const timespec& ts) {
            sets.push_back(Instant(seconds(ts.tv_sec)) +
                           round<milliseconds>(nanoseconds(ts.tv_nsec)));
            if (refuse) return errno = EPERM, -1;
            now = sets.back();
            return 0;
        },
        [this] {
            const auto ns = now.time_since_epoch();
            return timespec{floor<seconds>(ns).count(), long(nanoseconds(ns % 1s).count())};
        }};
};

class ZoneChanges : public ::testing::TestWithParam<const char*> {};

// What the program shows and sends for each sentence, and what it sets however far the PC
// clock is off, against the C library's own reading of the zone.
TEST_P(ZoneChanges, ShownSetAndSentTimesAreTheTrueInstant) {
    if (!std::filesystem::exists(std::string("/usr/share/zoneinfo/") + GetParam()))
        FAIL() << "tzdata lacks " << GetParam();
    testing::EnvOverride zone("TZ", GetParam());
    SeamClock pc;
    const auto checked = testing::expectUpdatesSetTheTrueInstant(
        pc.clock, pc.now, pc.sets, testing::offsetChanges(pc.clock), [&](Instant at) {
            const std::time_t shown = system_clock::to_time_t(at) + 1;  // the receive advance
            const DateValue gps = advancedGpsTime(testing::dateValueAt(at));
            EXPECT_EQ(formatLocalDisplay(gpsToLocal(gps, pc.clock)),
                      strftimeOf(shown, "%-d/%-m/%y   %-H:%M:%S", false));
            for (bool utc : {true, false}) {
                pc.now = Instant(seconds(shown)) + 1ms;
                BroadcastScheduler scheduler(pc.clock);
                ASSERT_TRUE(scheduler.tick({0, 0, utc, 0}).newSecond);
                EXPECT_EQ(scheduler.CurrentSyncFrame().substr(0, 15),
                          strftimeOf(shown, utc ? "*%S%M%H%m%d%Y" : "*%S%M%H%d%m%Y", utc));
            }
        });
    RecordProperty("clock_updates_checked", checked);
}

const char* const kZones[] = {
    "Europe/Berlin",     "America/New_York", "Australia/Lord_Howe", "Antarctica/Troll",
    "Pacific/Apia",      "Pacific/Chatham",  "Asia/Kathmandu",      "America/St_Johns",
    "Europe/London",     "Europe/Dublin",    "America/Sao_Paulo",   "America/Havana",
    "Asia/Beirut",       "Asia/Tehran",      "Australia/Adelaide",  "America/Santiago",
    "Africa/Casablanca", "Europe/Moscow",    "America/Asuncion",    "Pacific/Kiritimati"};
// GoogleTest numbers them; CTest names each by its zone.
INSTANTIATE_TEST_SUITE_P(Zones, ZoneChanges, ::testing::ValuesIn(kZones));

TEST(LinuxClock, RefusalsAndImpossibleFieldsThrowAndNothingImpossibleIsSet) {
    testing::EnvOverride zone("TZ", "Europe/Berlin");
    SeamClock pc{sys_days(2026y / 12 / 6) + 8h + 5min + 1s, {}, true};
    const ZonedTime target{{2026, 12, 0, 6, 9, 5, 1, 0}, {2026, 12, 0, 6, 8, 5, 1, 0}};
    EXPECT_THROW(pc.clock.setLocalTimeOfDay(target, DateChoice::Nearest), Error);
    EXPECT_THROW(pc.clock.setLocalDate({{2025, 2, 0, 29, 9, 5, 1, 0}, target.utc}), Error);
    EXPECT_EQ(pc.sets.size(), 1u) << "impossible fields never reach the clock";
}

}  // namespace
}  // namespace tidewell
