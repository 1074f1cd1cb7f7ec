#include "app/valid_time_watch.h"

namespace tidewell {

void ValidTimeWatch::gpsTimeShown(const std::string&, const std::string& localText) {
    shown_ = true;
    lastTime_ = localText.substr(localText.find_last_of(' ') + 1);  // the time, not the date
}

std::optional<std::string> ValidTimeWatch::second() {
    if (shown_) {
        shown_ = false;
        quietSeconds_ = 0;
        if (state_ == State::Coming) return std::nullopt;
        const bool again = state_ == State::Lost;
        state_ = State::Coming;
        return again ? "gps: valid time again" : "gps: valid time";
    }
    if (state_ != State::Coming || ++quietSeconds_ < kQuietSeconds) return std::nullopt;
    state_ = State::Lost;
    return "gps: no valid time since " + lastTime_;
}

}  // namespace tidewell
