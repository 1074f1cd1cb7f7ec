// The Windows clock under Wine; sets reach fakes only (Wine as root passes the real SetSystemTime
// on to the host). The gps_zone_* tests run it per zone, Wine reading TZ, against zdump's times.
#include "platform/system_clock_win32.h"

#include <gmock/gmock.h>

#include <bit>
#include <cstdio>
#include <fstream>

#include "platform/error.h"

namespace tidewell {
namespace {

constexpr std::int64_t kSecond = 10'000'000, kMinute = 60 * kSecond, kDay = 1440 * kMinute;
std::int64_t fakeNow;
std::vector<std::int64_t> sets;
DWORD refusal;
const ClockApi fakes{
    [](LPFILETIME ft) { *ft = std::bit_cast<FILETIME>(fakeNow); },
    [](const SYSTEMTIME* st) -> BOOL {
        return sets.push_back(fileTicksOf(std::bit_cast<SystemTime>(*st))), TRUE;
    },
    [](HANDLE, DWORD, PHANDLE token) -> BOOL { return *token = nullptr, TRUE; },
    [](LPCWSTR, LPCWSTR, PLUID) -> BOOL { return TRUE; },
    [](HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES, PDWORD) -> BOOL {
        return SetLastError(refusal), TRUE;
    },
    [](HANDLE) -> BOOL { return TRUE; },
};

std::string asctimeOf(const SystemTime& st) {  // as zdump writes it
    char text[32], names[] = "SunMonTueWedThuFriSatJanFebMarAprMayJunJulAugSepOctNovDec";
    std::snprintf(text, sizeof text, "%.3s %.3s%3d %02d:%02d:%02d %d", &names[3 * st.wDayOfWeek],
                  &names[18 + 3 * st.wMonth], st.wDay, st.wHour, st.wMinute, st.wSecond, st.wYear);
    return text;
}

// Every offset change 2000..2037, and 2027-01-01: the local times there (and a second before a
// change) are zdump's; minute by minute two hours either side, the time set is the GPS instant
// itself and the date set keeps the clock's own instant.
TEST(Win32Clock, AroundEveryOffsetChangeReadsAndSetsTheTrueInstant) {
    Win32SystemClock clock(fakes);
    std::vector<std::int64_t> instants;
    for (std::int64_t a = fileTicksOf({2000, 1, 0, 1}); a < fileTicksOf({2038, 1, 0, 1});
         a += kDay) {
        std::int64_t lo = a, hi = a + kDay;
        while (clock.offsetAt(lo) != clock.offsetAt(hi) && hi - lo > kSecond) {
            const std::int64_t mid = lo + (hi - lo) / 2 / kSecond * kSecond;
            (clock.offsetAt(mid) == clock.offsetAt(lo) ? lo : hi) = mid;
        }
        if (hi - lo == kSecond) instants.insert(instants.end(), {lo, hi});
    }
    instants.push_back(fileTicksOf({2027, 1, 0, 1}));
    std::vector<std::string> expected, actual;
    for (std::int64_t t : instants) {
        const SystemTime utc = systemTimeOf(t);
        actual.push_back(asctimeOf(utc) + " UT = " + asctimeOf(clock.utcToLocal(utc)));
        for (std::int64_t m = t - t % kMinute - 120 * kMinute; m <= t + 120 * kMinute;
             m += kMinute) {
            const SystemTime gps = systemTimeOf(m + kSecond);
            fakeNow = m + 4'000'000, sets.clear();
            clock.setLocalDate({clock.utcToLocal(gps), gps});
            clock.setLocalTimeOfDay({clock.utcToLocal(gps), gps});
            ASSERT_EQ(sets, (std::vector{fakeNow, m + kSecond})) << asctimeOf(gps) << " UT";
        }
    }
    std::ifstream table(std::getenv("TIDEWELL_ZDUMP") ? std::getenv("TIDEWELL_ZDUMP") : "");
    if (!table) return;  // only the gps_zone_* runs name one
    if (std::string(std::getenv("TZ")) == "Australia/Lord_Howe")  // Wine's fault, not ours
        GTEST_SKIP() << "Wine matches no Windows zone and makes its own: a 60-minute daylight "
                        "bias, not 30, and this year's change dates in every year";
    for (std::string line; std::getline(table, line);)
        expected.push_back(line.substr(line.find(" UT = ") - 24, 54));
    EXPECT_EQ(actual, expected);
}

TEST(Win32Clock, RefusedRightSaysHowToGetItAndImpossibleFieldsSetNothing) {
    using namespace testing;
    Win32SystemClock clock(fakes);
    const SystemTime gps{2026, 12, 0, 6, 8, 5, 1};
    fakeNow = fileTicksOf(gps), refusal = ERROR_NOT_ALL_ASSIGNED, sets.clear();
    auto setTime = [&] { clock.setLocalTimeOfDay({clock.utcToLocal(gps), gps}); };
    EXPECT_THAT(setTime,
                Throws<Error>(AllOf(Property(&Error::number, int(ERROR_NOT_ALL_ASSIGNED)),
                                    Property(&Error::description,
                                             AllOf(StartsWith("Setting the clock: "),
                                                   HasSubstr(" /SC ONLOGON /RL HIGHEST /TR \"\\\""),
                                                   EndsWith(".exe\\\"\""))))));
    refusal = 0;
    EXPECT_THROW(clock.setLocalDate({{2025, 2, 0, 29, 9, 5, 1}, gps}), Error);
    EXPECT_TRUE(sets.empty()) << "nothing set without the right, nor 29 February 2025";
}

}  // namespace
}  // namespace tidewell
