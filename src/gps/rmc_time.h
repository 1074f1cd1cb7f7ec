#pragma once
// From a delivered sentence to the GPS and local date values that the displays and the clock
// update use.
#include <string_view>

#include "gps/date_value.h"
#include "platform/system_clock.h"

namespace tidewell {

// True when the type, upper-cased, is exactly "RMC".
bool isRmcType(std::string_view typeId);

// The sentence's UTC date value plus the receive advance. Throws Error when the sum lies
// outside the date range.
DateValue advancedGpsTime(double utcDateTime);

// The GPS date value converted to local time through the clock's UTC-to-local conversion,
// in whole seconds (a record started at all zeros, filled, converted, read back).
DateValue gpsToLocal(DateValue gps, const SystemClock& clock);

}  // namespace tidewell
