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
    return lineBaud_ = setting->baud;
}

void NmeaReceiver::frame(std::string_view bytes, std::chrono::steady_clock::time_point readAt,
                         std::vector<TimedLine>& lines) {
    const auto sink = [&](std::string_view line) {
        lines.push_back({std::string(line), lineStart_});
    };
    const std::chrono::nanoseconds charTime(10'000'000'000LL / lineBaud_);
    // A line holds no '$' but its first, so every line ended within a piece fed here began
    // at the '$' the piece starts with, or before it.
    std::size_t from = 0;
    for (std::size_t at = bytes.find('$'); at != std::string_view::npos;
         at = bytes.find('$', at + 1)) {
        framer_.feed(bytes.substr(from, at - from), sink);
        lineStart_ = readAt - charTime * static_cast<long long>(bytes.size() - 1 - at);
        from = at;
    }
    framer_.feed(bytes.substr(from), sink);
}

bool NmeaReceiver::huntStep(const std::vector<TimedLine>& lines) {
    if (!hunt_ || hunt_->found()) return false;
    const auto good = std::count_if(lines.begin(), lines.end(), [](const TimedLine& line) {
        return checksumMatches(line.text);
    });
    switch (hunt_->input(SpeedHunt::Clock::now(), static_cast<int>(good))) {
    case SpeedHunt::Step::Found:
        if (SpeedFound) SpeedFound(hunt_->speed());
        return false;
    case SpeedHunt::Step::Next:
        lineBaud_ = hunt_->speed();
        return true;
    case SpeedHunt::Step::Stay:
        return false;
    }
    return false;
}

}  // namespace tidewell
