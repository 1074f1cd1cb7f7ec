#include "platform/system_clock_linux.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"

namespace tidewell {
namespace {

std::time_t utcInstant(int y, int mo, int d, int h, int mi, int s = 0) {
    std::tm tm{};
    tm.tm_year = y - 1900, tm.tm_mon = mo - 1, tm.tm_mday = d;
    tm.tm_hour = h, tm.tm_min = mi, tm.tm_sec = s;
    return timegm(&tm);
}

// Berlin changes to summer time at 01:00 UTC on 29 March 2026; tests restore TZ afterwards.
class InBerlin : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) saved_ = tz;
        if (!std::filesystem::exists("/usr/share/zoneinfo/Europe/Berlin"))
            GTEST_SKIP() << "no tzdata";
        setenv("TZ", "Europe/Berlin", 1);
        tzset();
    }
    void TearDown() override {
        saved_ ? setenv("TZ", saved_->c_str(), 1) : unsetenv("TZ");
        tzset();
    }
    std::optional<std::string> saved_;
};

TEST_F(InBerlin, ConversionsAroundTheChange) {
    const struct {
        const char* what;
        SystemTime local, utc;
        bool bothWays;
    } rows[] = {
        // clang-format off
        {"last winter instant", {2026, 3, 0, 29, 1, 59, 59, 999}, {2026, 3, 0, 29, 0, 59, 59, 999}, true},
        {"first summer instant", {2026, 3, 0, 29, 3, 0, 0, 0}, {2026, 3, 0, 29, 1, 0, 0, 0}, true},
        {"skipped hour: the offset before the change", {2026, 3, 0, 29, 2, 30, 0, 0}, {2026, 3, 0, 29, 1, 30, 0, 0}, false},
        {"repeated hour: the first pass", {2026, 10, 0, 25, 2, 30, 0, 0}, {2026, 10, 0, 25, 0, 30, 0, 0}, false},
        // clang-format on
    };
    for (const auto& r : rows) {
        EXPECT_EQ(LinuxSystemClock().localToUtc(r.local), r.utc) << r.what;
        if (r.bothWays) {
            EXPECT_EQ(LinuxSystemClock().utcToLocal(r.utc), r.local) << r.what;
        }
    }
}

// Reads and sets go through seams; the machine's clock is never touched.
TEST_F(InBerlin, SettingIsOneCallAtTheWantedLocalFields) {
    timespec now{utcInstant(2026, 12, 6, 8, 5, 1), 700'000'000};  // 09:05:01.7 local
    std::vector<timespec> sets;
    int failWith = 0;
    LinuxSystemClock clock{[&](const timespec& ts) {
                               sets.push_back(ts);
                               errno = failWith;
                               return failWith ? -1 : 0;
                           },
                           [&] { return now; }};
    EXPECT_EQ(clock.localNow(), (SystemTime{2026, 12, 0, 6, 9, 5, 1, 700}));
    clock.setLocalTimeOfDay(10, 0, 1);
    clock.setLocalDate(2026, 7, 1);  // summer: keeps 09:05:01.7 at the other offset
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0].tv_sec, utcInstant(2026, 12, 6, 9, 0, 1));
    EXPECT_EQ(sets[0].tv_nsec, 0);
    EXPECT_EQ(sets[1].tv_sec, utcInstant(2026, 7, 1, 7, 5, 1));
    EXPECT_EQ(sets[1].tv_nsec, 700'000'000);

    failWith = EPERM;
    EXPECT_THROW(clock.setLocalTimeOfDay(9, 5, 1), Error);
    EXPECT_THROW(clock.setLocalDate(2025, 2, 29), Error);
    EXPECT_EQ(sets.size(), 3u) << "impossible fields never reach the clock";
}

}  // namespace
}  // namespace tidewell
