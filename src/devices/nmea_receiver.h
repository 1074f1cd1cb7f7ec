#pragma once
// The GPS receiver component: owns the GPS port, frames and checks NMEA-0183 sentences and
// raises SentenceReceived once per decoded sentence, on the event loop's thread.
#include <cstdint>
#include <functional>
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

class NmeaReceiver {
public:
    virtual ~NmeaReceiver() = default;

    // 0 = no port, 1..8 = COM1..COM8.
    std::int16_t PortNumber = 0;
    // 0 selects 4800 baud.
    std::int16_t BaudRate = 0;

    // Opens the port PortNumber names. Throws Error ("COM3 (/dev/ttyS2): No such file or
    // directory") when the device is missing, busy or refuses.
    virtual void OpenPort() = 0;
    // Closes the port; does nothing when none is open. Never throws.
    virtual void ClosePort() = 0;
    virtual bool isOpen() const = 0;

    std::function<void(const NmeaSentence&)> SentenceReceived;
};

}  // namespace tidewell
