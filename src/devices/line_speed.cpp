#include "devices/line_speed.h"

#include <algorithm>
#include <charconv>

#include "devices/nmea_decode.h"
#include "platform/ascii.h"

namespace tidewell {

bool supportedLineSpeed(int baud) {
    static constexpr int kSpeeds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    return std::find(std::begin(kSpeeds), std::end(kSpeeds), baud) != std::end(kSpeeds);
}

std::optional<LineSpeedSetting> parseLineSpeed(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (text.empty()) return LineSpeedSetting{};
    if (ascii::equalsIgnoringCase(text, "auto"))
        return LineSpeedSetting{SpeedHunt::kOrder[0], true};
    int baud = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), baud);
    if (ec != std::errc() || end != text.data() + text.size() || !supportedLineSpeed(baud))
        return std::nullopt;
    return LineSpeedSetting{baud, false};
}

bool checksumMatches(std::string_view line) {
    const auto star = line.rfind('*');
    if (line.size() < 4 || line.front() != '$' || star == std::string_view::npos ||
        star + 3 != line.size())
        return false;
    unsigned sum = 0;
    const auto [end, ec] =
        std::from_chars(line.data() + star + 1, line.data() + line.size(), sum, 16);
    return ec == std::errc() && end == line.data() + line.size() &&
           sum == nmeaChecksum(line.substr(1, star - 1));
}

SpeedHunt::Step SpeedHunt::input(Clock::time_point now, int goodSentences) {
    if (found_) {
        if (goodSentences > 0) windowStart_ = now;
        if (now - *windowStart_ < kLostAfter) return Step::Stay;
        found_ = false;
    } else {
        if (!windowStart_) windowStart_ = now;
        good_ += goodSentences;
        if (good_ >= kSentencesNeeded) {
            found_ = true;
            windowStart_ = now;
            return Step::Found;
        }
        if (now - *windowStart_ < kWindow) return Step::Stay;
    }
    index_ = (index_ + 1) % kOrder.size();
    windowStart_.reset();
    good_ = 0;
    return Step::Next;
}

}  // namespace tidewell
