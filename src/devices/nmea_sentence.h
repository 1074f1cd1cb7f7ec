#pragma once
// One sentence as the GPS receiver delivers it.
#include <optional>
#include <string>

namespace tidewell {

// One decoded sentence.
struct NmeaSentence {
    // The sentence type without its two-letter talker ("RMC" for $GPRMC, $GNRMC, ...);
    // a proprietary $P... sentence gives its whole address ("PGRME").
    std::string TypeID;
    // For RMC: the date value (days since 1899-12-30) of the sentence's UTC date and time,
    // fraction of a second included. Empty for every other type.
    std::optional<double> utc;

    // Throws Error when the sentence carries no RMC time.
    double UTCDateTime() const;
};

}  // namespace tidewell
