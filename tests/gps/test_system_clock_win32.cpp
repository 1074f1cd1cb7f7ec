// The Windows clock under Wine; sets reach fakes only (Wine as root passes the real SetSystemTime
// on to the host). The gps_zone_* tests run it per zone, Wine reading TZ, against zdump's times.
#include "platform/system_clock_win32.h"

#include <gmock/gmock.h>

#include <bit>
#include <cstdio>
#include <fstream>

#include "clock_property.h"
#include "platform/error.h"

namespace tidewell {
namespace {

using namespace std::chrono;

Instant fakeNow;
std::vector<Instant> sets;
DWORD refusal;
const ClockApi fakes{
    [](LPFILETIME ft) { *ft = std::bit_cast<FILETIME>(fileTicksOf(systemTimeAt(fakeNow))); },
    [](const SYSTEMTIME* st) -> BOOL {
        return sets.push_back(fakeNow = instantOf(std::bit_cast<SystemTime>(*st))), TRUE;
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

// The local times at every offset change 2000..2037 (and a second before), and on
// 2027-01-01, are zdump's; the clock update sets the true instant, however far off the PC.
TEST(Win32Clock, AroundEveryOffsetChangeReadsAndSetsTheTrueInstant) {
    Win32SystemClock clock(fakes);
    const std::vector<Instant> changes = testing::offsetChanges(clock);
    const int checked = testing::expectUpdatesSetTheTrueInstant(clock, fakeNow, sets, changes);
    RecordProperty("clock_updates_checked", checked);
    std::vector<Instant> instants;
    for (Instant change : changes) instants.insert(instants.end(), {change - 1s, change});
    instants.push_back(sys_days(2027y / 1 / 1));
    std::vector<std::string> expected, actual;
    for (Instant t : instants)
        actual.push_back(asctimeOf(systemTimeAt(t)) +
                         " UT = " + asctimeOf(clock.utcToLocal(systemTimeAt(t))));
    std::ifstream table(std::getenv("TIDEWELL_ZDUMP") ? std::getenv("TIDEWELL_ZDUMP") : "");
    if (!table) return;  // only the gps_zone_* runs name one
    if (std::string(std::getenv("TZ")) == "Australia/Lord_Howe")  // Wine's fault, not ours
        GTEST_SKIP() << "Wine matches no Windows zone and makes its own: a 60-minute daylight "
                        "bias, not 30, and this year's change dates in every year";
    for (std::string line; std::getline(table, line);)
        expected.push_back(line.substr(line.find(" UT = ") - 24, 54));
    EXPECT_EQ(actual, expected);
}

TEST(Win32Clock, RefusedRightSaysHowToGetItAndSetsNothing) {
    using namespace ::testing;
    Win32SystemClock clock(fakes);
    const SystemTime gps{2026, 12, 0, 6, 8, 5, 1};
    fakeNow = instantOf(gps), refusal = ERROR_NOT_ALL_ASSIGNED, sets.clear();
    auto setTime = [&] {
        clock.setLocalTimeOfDay({clock.utcToLocal(gps), gps}, DateChoice::Nearest);
    };
    EXPECT_THAT(setTime,
                Throws<Error>(AllOf(Property(&Error::number, int(ERROR_NOT_ALL_ASSIGNED)),
                                    Property(&Error::description,
                                             AllOf(StartsWith("Setting the clock: "),
                                                   HasSubstr(" /SC ONLOGON /RL HIGHEST /TR \"\\\""),
                                                   EndsWith(".exe\\\"\""))))));
    EXPECT_TRUE(sets.empty()) << "nothing set without the right";
    refusal = 0;
}

}  // namespace
}  // namespace tidewell
