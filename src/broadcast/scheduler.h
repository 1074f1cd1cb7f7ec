#pragma once
// The once-a-second decisions of the broadcast timer: when a new second of the PC clock has
// begun, build the frame and decide per output whether it is due at that output's rate.
// Sending is left to the caller, serial first, then UDP.
#include <optional>
#include <string>

#include "broadcast/sync_frame.h"
#include "platform/system_clock.h"

namespace tidewell {

// Rate codes: 0 once per second, 1 minute, 2 hour, 3 day; unset counts as 0.
using RateCode = std::optional<int>;

// The due decision for one output. For codes 1..3 the mark follows the minute, hour or day
// text and the output is due exactly when that text differs from the mark (which then takes
// it); code 0 or unset is always due; any other code never.
bool rateDue(const RateCode& code, const std::string& minuteText, const std::string& hourText,
             const std::string& dayText, std::string& mark);

class BroadcastScheduler {
public:
    struct Settings {
        RateCode serialRate;
        RateCode udpRate;
        std::optional<bool> syncUsesUtc;  // UTC mode only when true
        int batterySave = 0;              // Check4's state
    };

    struct Tick {
        bool newSecond = false;  // false: nothing else below is meaningful
        std::string frame;       // the frame built for the new second
        bool serialDue = false;
        bool udpDue = false;
    };

    explicit BroadcastScheduler(const SystemClock& clock) : clock_(clock) {}

    // One timer tick: reads the PC clock once; on a new seconds text builds CurrentSyncFrame
    // and makes both due decisions (marks move whether or not an output is on).
    Tick tick(const Settings& settings);

    const std::string& CurrentSyncFrame() const { return currentSyncFrame_; }

private:
    const SystemClock& clock_;
    std::string lastTickSecond_;
    std::string currentSyncFrame_;
    std::string serialRateMark_;
    std::string udpRateMark_;
};

}  // namespace tidewell
