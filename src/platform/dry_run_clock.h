#pragma once
// A clock that reads through another clock and never sets anything: for --no-set-clock and
// dry runs. It remembers what it would have set.
#include <optional>
#include <string>

#include "platform/system_clock.h"

namespace tidewell {

class DryRunClock : public SystemClock {
public:
    struct WouldBeSet {
        enum class Kind { Date, TimeOfDay } kind;
        int a, b, c;  // year, month, day or hour, minute, second
        int milliseconds = 0;
        // "date 2026-12-06", "time 09:05:01" or "time 09:05:00.250"
        std::string text() const;
    };

    explicit DryRunClock(const SystemClock& inner) : inner_(inner) {}

    SystemTime localNow() const override { return inner_.localNow(); }
    SystemTime utcNow() const override { return inner_.utcNow(); }
    SystemTime utcToLocal(const SystemTime& utc) const override { return inner_.utcToLocal(utc); }
    void setLocalDate(const ZonedTime& target) override;
    void setLocalTimeOfDay(const ZonedTime& target, DateChoice date) override;

    const std::optional<WouldBeSet>& lastSet() const { return lastSet_; }

private:
    const SystemClock& inner_;
    std::optional<WouldBeSet> lastSet_;
};

}  // namespace tidewell
