#include "gps/rmc_time.h"

#include "platform/ascii.h"

namespace tidewell {

bool isRmcType(std::string_view typeId) {
    return ascii::equalsIgnoringCase(typeId, "RMC");
}

DateValue advancedGpsTime(double utcDateTime) {
    const DateValue gps = utcDateTime + kReceiveAdvance;
    datePartsOf(gps);  // range check only; throws outside years 100..9999
    return gps;
}

DateValue gpsToLocal(DateValue gps, const SystemClock& clock) {
    SystemTime st{};
    DateToSystemTime(gps, st);
    st = clock.utcToLocal(st);
    DateValue local = 0;
    SystemTimeToDate(st, local);
    return local;
}

}  // namespace tidewell
