#pragma once
// One sentence as the GPS receiver delivers it.
#include <chrono>
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
    // When the sentence's first byte came off the line; empty for sentences not read from a
    // port (files, tests).
    std::chrono::steady_clock::time_point arrived{};
    // False when the sentence came late (out of a backlog, or superseded by a newer one in
    // the same read): it may be shown, never used to set the clock.
    bool fresh = true;

    // Throws Error when the sentence carries no RMC time.
    double UTCDateTime() const;
};

}  // namespace tidewell
