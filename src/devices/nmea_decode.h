#pragma once
// Checks and decodes one framed NMEA-0183 line: checksum, sentence type, and for RMC the
// UTC date and time, which must be valid time data to be delivered.
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "devices/nmea_sentence.h"
#include "platform/calendar.h"

namespace tidewell {

// The RMC dates delivered; the default takes every date an RMC can carry.
struct DateWindow {
    CivilDate earliest{1980, 1, 1};
    CivilDate latest{2079, 12, 31};
};

// No receiver is right about a day before `build`. One GPS week-number cycle (1024 weeks)
// after it is as far as a rolled-over receiver reaches; a later date is corrupt or spoofed.
DateWindow gpsDateWindow(CivilDate build);

// The outcome for one line: the sentence to deliver, or the reason it is not delivered.
struct NmeaDecodeResult {
    std::optional<NmeaSentence> sentence;
    // The type read from the address, also when rejected; empty when there is no address.
    std::string typeId;
    std::string rejection;
};

// `line` runs from '$' up to the last checksum digit, without CR/LF. An RMC is delivered
// only with status A and a well-formed time and date inside `dates`.
NmeaDecodeResult decodeNmeaSentence(std::string_view line, const DateWindow& dates);

// XOR of every byte of `body` (the text between '$' and '*').
std::uint8_t nmeaChecksum(std::string_view body);

// "hhmmss" with an optional fraction: seconds of the day, fraction cut to milliseconds.
std::optional<double> parseNmeaTime(std::string_view field);
// "ddmmyy", a real calendar date; yy 80..99 is 19yy, 00..79 is 20yy.
std::optional<CivilDate> parseNmeaDate(std::string_view field);

}  // namespace tidewell
