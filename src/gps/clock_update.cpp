#include "gps/clock_update.h"

namespace tidewell {

ClockUpdate::Outcome ClockUpdate::apply(DateValue local, int useGpsDate) {
    const DateParts p = datePartsOf(local);
    Outcome out;
    if (p.second != 1 || p.minute == rememberedMinute_.value_or(0)) return out;

    rememberedMinute_ = p.minute;
    out.due = true;
    if (useGpsDate == 1) {
        clock_.setLocalDate(p.year, p.month, p.day);
        out.dateSet = true;
    }
    clock_.setLocalTimeOfDay(p.hour, p.minute, p.second);
    out.timeSet = true;
    return out;
}

}  // namespace tidewell
