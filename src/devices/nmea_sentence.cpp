#include "devices/nmea_receiver.h"
#include "platform/error.h"

namespace tidewell {

double NmeaSentence::UTCDateTime() const {
    if (!utc)
        throw Error(errors::TypeMismatch, "Sentence " + TypeID + " carries no UTC date and time");
    return *utc;
}

}  // namespace tidewell
