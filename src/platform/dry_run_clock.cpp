#include "platform/dry_run_clock.h"

#include <cstdio>

namespace tidewell {

std::string DryRunClock::WouldBeSet::text() const {
    char buf[48];
    if (kind == Kind::Date)
        std::snprintf(buf, sizeof buf, "date %04d-%02d-%02d", a, b, c);
    else
        std::snprintf(buf, sizeof buf, "time %02d:%02d:%02d", a, b, c);
    return buf;
}

void DryRunClock::setLocalDate(int year, int month, int day) {
    lastSet_ = WouldBeSet{WouldBeSet::Kind::Date, year, month, day};
}

void DryRunClock::setLocalTimeOfDay(int hour, int minute, int second) {
    lastSet_ = WouldBeSet{WouldBeSet::Kind::TimeOfDay, hour, minute, second};
}

}  // namespace tidewell
