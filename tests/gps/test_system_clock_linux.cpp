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

TEST(ResolveLocalWall, AroundOffsetChanges) {
    const std::time_t change = utcInstant(2026, 3, 29, 1, 0);
    const OffsetAt spring = [=](std::time_t t) { return t < change ? 3600L : 7200L; };
    const OffsetAt autumn = [=](std::time_t t) { return t < change ? 7200L : 3600L; };
    const auto at = [](int h, int mi) { return utcInstant(2026, 3, 29, h, mi); };
    const struct {
        const char* what;
        const OffsetAt& offsets;
        std::time_t wall, expected;
    } rows[] = {
        {"before the skipped hour", spring, at(1, 59), at(0, 59)},
        {"in it: the offset before the change", spring, at(2, 30), at(1, 30)},
        {"first wall time after it", spring, at(3, 0), at(1, 0)},
        {"in the repeated hour: the first pass", autumn, at(2, 30), at(0, 30)},
        {"after the repeated hour", autumn, at(3, 0), at(2, 0)},
        {"days away from the change", spring, at(1, 0) + 3 * 86400, at(23, 0) + 2 * 86400},
    };
    for (const auto& r : rows)
        EXPECT_EQ(resolveLocalWall(r.wall, r.offsets), r.expected) << r.what;
}

// Runs a test in a named time zone and restores the previous one.
class InZone : public ::testing::Test {
  protected:
    bool useZone(const char* zone) {
        if (!std::filesystem::exists(std::string("/usr/share/zoneinfo/") + zone)) return false;
        setenv("TZ", zone, 1);
        tzset();
        return true;
    }
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) saved_ = tz;
    }
    void TearDown() override {
        saved_ ? setenv("TZ", saved_->c_str(), 1) : unsetenv("TZ");
        tzset();
    }

  private:
    std::optional<std::string> saved_;
};

#define ZONE(z)                                                                                    \
    if (!useZone(z)) GTEST_SKIP() << "no tzdata for " << z

TEST_F(InZone, ConversionsAtTheConvertedInstant) {
    const struct {
        const char* zone;
        SystemTime utc, local;
    } rows[] = {
        // clang-format off
        {"Australia/Brisbane", {2026, 12, 6, 5, 20, 30, 1, 250}, {2026, 12, 0, 6, 6, 30, 1, 250}},
        {"Australia/Sydney", {2026, 12, 6, 5, 20, 30, 1, 0}, {2026, 12, 0, 6, 7, 30, 1, 0}},
        {"Australia/Sydney", {2026, 6, 5, 5, 20, 30, 1, 0}, {2026, 6, 6, 6, 6, 30, 1, 0}},
        {"Europe/Berlin", {2026, 3, 0, 29, 0, 59, 59, 999}, {2026, 3, 0, 29, 1, 59, 59, 999}},
        {"Europe/Berlin", {2026, 3, 0, 29, 1, 0, 0, 0}, {2026, 3, 0, 29, 3, 0, 0, 0}},
        {"UTC", {2026, 12, 4, 31, 23, 59, 59, 1}, {2026, 12, 4, 31, 23, 59, 59, 1}},
        // clang-format on
    };
    for (const auto& r : rows) {
        ZONE(r.zone);
        EXPECT_EQ(LinuxSystemClock().utcToLocal(r.utc), r.local) << r.zone;
        EXPECT_EQ(LinuxSystemClock().localToUtc(r.local), r.utc) << r.zone;
    }
}

TEST_F(InZone, LocalToUtcInTheSkippedAndRepeatedHours) {
    ZONE("Europe/Berlin");
    const LinuxSystemClock clock;
    EXPECT_EQ(clock.localToUtc({2026, 3, 0, 29, 2, 30, 0, 0}),
              (SystemTime{2026, 3, 0, 29, 1, 30, 0, 0}));
    EXPECT_EQ(clock.localToUtc({2026, 10, 0, 25, 2, 30, 0, 0}),
              (SystemTime{2026, 10, 0, 25, 0, 30, 0, 0}));
}

// Reads and sets go through seams; the machine's clock is never touched.
struct SeamedClock {
    timespec now{};
    std::vector<timespec> sets;
    int failWith = 0;
    LinuxSystemClock clock{[this](const timespec& ts) {
                               sets.push_back(ts);
                               errno = failWith;
                               return failWith ? -1 : 0;
                           },
                           [this] { return now; }};
};

TEST_F(InZone, SettingIsOneCallAtTheWantedLocalFields) {
    ZONE("Europe/Berlin");
    SeamedClock s;
    s.now = {utcInstant(2026, 12, 6, 8, 5, 1), 700'000'000}; // 09:05:01.7 local
    EXPECT_EQ(s.clock.localNow(), (SystemTime{2026, 12, 0, 6, 9, 5, 1, 700}));

    s.clock.setLocalTimeOfDay(10, 0, 1);
    s.clock.setLocalDate(2026, 7, 1); // summer: keeps 09:05:01.7 at the other offset
    ASSERT_EQ(s.sets.size(), 2u);
    EXPECT_EQ(s.sets[0].tv_sec, utcInstant(2026, 12, 6, 9, 0, 1));
    EXPECT_EQ(s.sets[0].tv_nsec, 0);
    EXPECT_EQ(s.sets[1].tv_sec, utcInstant(2026, 7, 1, 7, 5, 1));
    EXPECT_EQ(s.sets[1].tv_nsec, 700'000'000);

    s.now = {utcInstant(2026, 12, 6, 23, 30, 0), 0}; // already 7 December locally
    s.clock.setLocalTimeOfDay(0, 0, 1);
    EXPECT_EQ(s.sets.back().tv_sec, utcInstant(2026, 12, 6, 23, 0, 1));
}

TEST_F(InZone, RefusalsAndImpossibleFields) {
    ZONE("UTC");
    SeamedClock s;
    s.failWith = EPERM;
    try {
        s.clock.setLocalTimeOfDay(9, 5, 1);
        FAIL() << "no throw";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), EPERM);
        EXPECT_EQ(e.description(), "Setting the clock: Operation not permitted");
    }
    EXPECT_THROW(s.clock.setLocalDate(2025, 2, 29), Error);
    EXPECT_THROW(s.clock.setLocalTimeOfDay(24, 0, 0), Error);
    EXPECT_EQ(s.sets.size(), 1u) << "impossible fields never reach the clock";
}

} // namespace
} // namespace tidewell
