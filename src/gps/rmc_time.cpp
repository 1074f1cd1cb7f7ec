#include "gps/rmc_time.h"

namespace tidewell {

bool isRmcType(std::string_view typeId) {
    if (typeId.size() != 3) return false;
    for (std::size_t i = 0; i < 3; ++i) {
        char c = typeId[i];
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        if (c != "RMC"[i]) return false;
    }
    return true;
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
