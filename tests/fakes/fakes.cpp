#include "fakes.h"

#include <cstdio>

#include "platform/calendar.h"

namespace tidewell::fakes {

SystemTime FakeClock::shifted(SystemTime t, int minutes) {
    const std::int64_t total =
        calendar::daysOf({t.wYear, t.wMonth, t.wDay}) * 1440 + t.wHour * 60 + t.wMinute + minutes;
    const std::int64_t day = total >= 0 ? total / 1440 : (total - 1439) / 1440;
    const CivilDate date = calendar::dateOf(day);
    t.wYear = std::uint16_t(date.year), t.wMonth = std::uint16_t(date.month);
    t.wDay = std::uint16_t(date.day);
    t.wHour = std::uint16_t((total - day * 1440) / 60);
    t.wMinute = std::uint16_t((total - day * 1440) % 60);
    return t;
}

void FakeClock::record(const char* what, int a, int b, int c, char sep) {
    char buf[48];
    if (sep == '-')
        std::snprintf(buf, sizeof buf, "%s %04d-%02d-%02d", what, a, b, c);
    else
        std::snprintf(buf, sizeof buf, "%s %02d:%02d:%02d", what, a, b, c);
    sets.emplace_back(buf);
    if (refuse) {
        sets.back() += " refused";
        throw Error(1, "Operation not permitted");
    }
}

}  // namespace tidewell::fakes
