#pragma once
// The program's own keys, beyond those of the window: read at start-up, never written, so a
// file without them behaves as it always did. [Ports] maps port names to devices and gives
// the GPS line's speed, read afresh at every opening.
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/log_level.h"
#include "devices/nmea_decode.h"
#include "platform/profile_store.h"

namespace tidewell {

struct ExtendedSettings {
    using Setting = std::function<std::string(std::string_view section, std::string_view key)>;
    // A stored text not read as it stands, and what became of it.
    using ReadAs = std::function<void(std::string_view section, std::string_view key,
                                      const std::string& text, const std::string& how)>;

    bool setsClock = true;                                  // [GPS] SETCLOCK
    std::optional<std::chrono::milliseconds> preciseDelay;  // [GPS] PRECISE=1, with DELAYMS
    LogLevel logLevel = LogLevel::Seconds;                  // [Log] LEVEL
    std::chrono::milliseconds receiverDelay{0};             // [GPS] DELAYMS, PRECISE or not
    // [GPS] REFCLOCK=SOCK:/path: chrony's socket, to which fresh times go instead of the clock.
    std::optional<std::string> refclock;
    // [Status] METRICS: the metrics file, relative to the settings file's folder; empty: none.
    std::string metricsFile;

    // `settingsFolder` anchors a relative metrics path.
    static ExtendedSettings read(const Setting& setting, const ReadAs& readAs,
                                 const std::string& settingsFolder = {});
};

// COMn's device: the [Ports] entry when there is one, read afresh at every open so a user can
// point a port at another device without restarting; else the platform's.
class PortMap {
public:
    PortMap(ProfileStore& profile, std::string settingsFile)
        : profile_(profile), settingsFile_(std::move(settingsFile)) {}
    std::string operator()(int port) const;
    // The GPS line's speed as [Ports] BAUD gives it ("", "9600", "auto"), read at every open;
    // "auto" for a text that names no speed.
    std::string lineSpeed() const;
    // The text as stored, for telling that it names no speed.
    std::string lineSpeedText() const;

private:
    ProfileStore& profile_;
    std::string settingsFile_;
};

// RMC dates a receiver may deliver: none before this build's own date (a receiver with the
// week-number rollover fault would set the PC back about twenty years), none beyond one
// week-number cycle after it.
DateWindow receiverDates();

}  // namespace tidewell
