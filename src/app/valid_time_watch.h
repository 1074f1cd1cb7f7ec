#pragma once
// Whether valid time is coming from the GPS, told once per change: a receiver that loses its
// fix says nothing else, and a log of events alone shows no time each second.
#include <optional>
#include <string>

#include "app/program_events.h"

namespace tidewell {

class ValidTimeWatch : public ProgramEvents {
public:
    // Seconds without a valid time before it counts as lost: a sentence may be late or lost.
    static constexpr int kQuietSeconds = 5;

    void gpsTimeShown(const std::string& gpsText, const std::string& localText) override;
    // Once a second: the line to tell when valid time started or stopped coming, else nothing.
    std::optional<std::string> second();

private:
    enum class State { Never, Coming, Lost };
    State state_ = State::Never;
    bool shown_ = false;
    int quietSeconds_ = 0;
    std::string lastTime_;  // the last valid time, as the local time display shows it
};

}  // namespace tidewell
