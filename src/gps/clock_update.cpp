#include "gps/clock_update.h"

namespace tidewell {

ClockUpdate::Outcome ClockUpdate::apply(DateValue local, DateValue gps, int useGpsDate) {
    const DateParts p = datePartsOf(local);
    Outcome out;
    if (p.second != 1 || p.minute == rememberedMinute_.value_or(0)) return out;

    rememberedMinute_ = p.minute;
    out.due = true;
    ZonedTime target;
    DateToSystemTime(local, target.local);
    DateToSystemTime(gps, target.utc);
    if (useGpsDate == 1) {
        clock_.setLocalDate(target);
        out.dateSet = true;
    }
    clock_.setLocalTimeOfDay(target);
    out.timeSet = true;
    return out;
}

}  // namespace tidewell
