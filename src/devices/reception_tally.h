#pragma once
// What a GPS port brought over a span of time, so a user can tell a receiver without a fix, a
// wrong line speed or a silent line from a program that has stopped.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "devices/nmea_decode.h"

namespace tidewell {

struct ReceptionTally {
    std::uint64_t bytes = 0;
    std::uint64_t sentences = 0;                    // framed lines, delivered or not
    std::uint64_t rmc = 0;                          // of them RMC, delivered or not
    std::uint64_t times = 0;                        // RMC delivered: valid time data
    std::map<std::string, std::uint64_t> rejected;  // by reason

    void add(const NmeaDecodeResult& line);
    ReceptionTally& operator+=(const ReceptionTally& other);
};

// Why no valid time came in the last `seconds`, as one line ("no valid time in the last 60 s:
// 58 status V, 2 checksum mismatch"); empty when one came.
std::string noTimeReport(const ReceptionTally& tally, int seconds);

}  // namespace tidewell
