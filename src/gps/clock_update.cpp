#include "gps/clock_update.h"

#include <algorithm>
#include <utility>

namespace tidewell {

ClockUpdate::ClockUpdate(SystemClock& clock, std::function<SteadyClock::time_point()> steadyNow)
    : clock_(clock), steadyNow_(steadyNow ? std::move(steadyNow) : SteadyClock::now) {}

ZonedTime ClockUpdate::preciseTarget(const Precise& precise) const {
    using namespace std::chrono;
    Instant instant = instantOf(precise.utc) + precise.receiverDelay;
    if (precise.arrived != SteadyClock::time_point{})
        instant += round<milliseconds>(
            std::max(steadyNow_() - precise.arrived, SteadyClock::duration::zero()));
    ZonedTime target;
    target.utc = systemTimeAt(instant);
    target.local = clock_.utcToLocal(target.utc);
    return target;
}

ClockUpdate::Outcome ClockUpdate::apply(DateValue local, DateValue gps, int useGpsDate,
                                        const std::optional<Precise>& precise) {
    const DateParts p = datePartsOf(local);
    Outcome out;
    if (p.second != 1 || p.minute == rememberedMinute_.value_or(0)) return out;

    rememberedMinute_ = p.minute;
    out.due = true;
    ZonedTime target;
    if (precise) {
        target = preciseTarget(*precise);
        out.setTo = target.local;
    } else {
        DateToSystemTime(local, target.local);
        DateToSystemTime(gps, target.utc);
    }
    out.target = instantOf(target.utc);
    out.wasAhead = instantOf(clock_.utcNow()) - *out.target;
    try {
        if (useGpsDate == 1) {
            clock_.setLocalDate(target);
            out.dateSet = true;
        }
        clock_.setLocalTimeOfDay(target, out.dateSet ? DateChoice::Target : DateChoice::Nearest);
    } catch (const Error& e) {
        throw Refused(e, out);
    }
    out.timeSet = true;
    return out;
}

}  // namespace tidewell
