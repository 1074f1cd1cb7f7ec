#include "platform/dry_run_clock.h"

#include <cstdio>

namespace tidewell {

std::string DryRunClock::WouldBeSet::text() const {
    char buf[48];
    if (kind == Kind::Date)
        std::snprintf(buf, sizeof buf, "date %04d-%02d-%02d", a, b, c);
    else if (milliseconds == 0)
        std::snprintf(buf, sizeof buf, "time %02d:%02d:%02d", a, b, c);
    else
        std::snprintf(buf, sizeof buf, "time %02d:%02d:%02d.%03d", a, b, c, milliseconds);
    return buf;
}

void DryRunClock::setLocalDate(const ZonedTime& target) {
    const SystemTime& t = target.local;
    lastSet_ = WouldBeSet{WouldBeSet::Kind::Date, t.wYear, t.wMonth, t.wDay};
}

void DryRunClock::setLocalTimeOfDay(const ZonedTime& target, DateChoice) {
    const SystemTime& t = target.local;
    lastSet_ =
        WouldBeSet{WouldBeSet::Kind::TimeOfDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

}  // namespace tidewell
