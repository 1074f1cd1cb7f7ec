#include "devices/nmea_receiver.h"

#include <algorithm>

#include "platform/error.h"

namespace tidewell {

int NmeaReceiver::openingSpeed(const std::string& port) {
    hunt_.reset();
    const std::string text = BaudRate != 0      ? std::to_string(BaudRate)
                             : lineSpeedSetting ? lineSpeedSetting()
                                                : std::string();
    const auto setting = parseLineSpeed(text);
    if (!setting)
        throw Error(errors::InvalidPropertyValue, port + ": unsupported baud rate " + text);
    if (setting->automatic) hunt_.emplace();
    return setting->baud;
}

bool NmeaReceiver::huntStep(const std::vector<std::string>& lines) {
    if (!hunt_ || hunt_->found()) return false;
    const auto good = std::count_if(lines.begin(), lines.end(),
                                    [](const std::string& line) { return checksumMatches(line); });
    switch (hunt_->input(SpeedHunt::Clock::now(), static_cast<int>(good))) {
    case SpeedHunt::Step::Found:
        if (SpeedFound) SpeedFound(hunt_->speed());
        return false;
    case SpeedHunt::Step::Next:
        return true;
    case SpeedHunt::Step::Stay:
        return false;
    }
    return false;
}

}  // namespace tidewell
