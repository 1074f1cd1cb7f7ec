#pragma once
// The clock update on a platform clock whose reads and sets go through seams, in the zone in
// force: for the sentence of any minute, with the PC clock up to 90 s either side of the
// instant to set (precise: and whole hours behind), the instant set is that very one, with
// the date option on or off. Sampled where it is hardest: two hours either side of every
// offset change 2000..2037, and across every local midnight of 2026 and 2027 and of each New
// Year's Day 2000..2037.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <random>
#include <utility>
#include <vector>

#include "gps/clock_update.h"
#include "gps/rmc_time.h"

namespace tidewell::testing {

using namespace std::chrono;

inline DateValue dateValueAt(Instant t) {
    DateValue value = 0;
    SystemTimeToDate(systemTimeAt(t), value);
    return value;
}

inline milliseconds utcOffsetAt(const SystemClock& clock, Instant t) {
    return instantOf(clock.utcToLocal(systemTimeAt(t))) - t;
}

// The first instant at which `inside(t)` holds, in [lo, hi], to the second.
inline Instant firstWhere(Instant lo, Instant hi, const std::function<bool(Instant)>& inside) {
    while (hi - lo > 1s) {
        const Instant mid = lo + floor<seconds>((hi - lo) / 2);
        (inside(mid) ? hi : lo) = mid;
    }
    return hi;
}

// Every instant 2000..2037 at which the zone's offset changes.
inline std::vector<Instant> offsetChanges(const SystemClock& clock) {
    std::vector<Instant> changes;
    for (Instant day = sys_days(2000y / 1 / 1); day < sys_days(2038y / 1 / 1); day += days(1))
        if (const auto offset = utcOffsetAt(clock, day);
            offset != utcOffsetAt(clock, day + days(1)))
            changes.push_back(firstWhere(
                day, day + days(1), [&](Instant t) { return utcOffsetAt(clock, t) != offset; }));
    return changes;
}

// Checks the property on `clock`, which reads `now` and puts each instant it sets in `sets`;
// `alsoAt` checks more for each sentence's UTC second. Returns the clock updates checked.
inline int expectUpdatesSetTheTrueInstant(SystemClock& clock, Instant& now,
                                          std::vector<Instant>& sets,
                                          const std::vector<Instant>& changes,
                                          const std::function<void(Instant)>& alsoAt = {}) {
    std::vector<std::pair<Instant, Instant>> windows;  // first and last minute
    for (Instant change : changes) windows.emplace_back(floor<minutes>(change) - 2h, change + 2h);
    for (sys_days d = 2000y / 1 / 1; d < sys_days(2038y / 1 / 1); d += days(1)) {
        if (const year_month_day ymd{d};
            ymd.year() != 2026y && ymd.year() != 2027y && ymd.month() / ymd.day() != January / 1)
            continue;
        const Instant first = floor<minutes>(firstWhere(d - 26h, d + 26h, [&](Instant t) {
            const SystemTime l = clock.utcToLocal(systemTimeAt(t));
            return sys_days(year(l.wYear) / l.wMonth / l.wDay) >= d;
        }));
        windows.emplace_back(first - 1min, first);
    }

    std::minstd_rand random(1);
    const auto uniform = [&](int n) { return int(random() % unsigned(n)); };
    steady_clock::time_point steadyNow{};
    int checked = 0;
    for (const auto& [first, last] : windows) {
        ClockUpdate whole(clock), precise(clock, [&] { return steadyNow; });
        // The minute before each window only primes the remembered minute.
        for (Instant t = first - 1min; t <= last && !::testing::Test::HasFailure(); t += 1min) {
            const DateValue utc = dateValueAt(t), gps = advancedGpsTime(utc);
            const DateValue local = gpsToLocal(gps, clock);
            SCOPED_TRACE(formatUtcMillis(utc) + " UTC");
            const int dateOption = uniform(2);
            // Precise: the sentence's second, plus the receiver's delay, plus the time since
            // its first byte, to the millisecond, whatever the PC clock read.
            const milliseconds delay(uniform(1000)), since(uniform(97));
            steadyNow += 1h;
            for (const bool isPrecise : {false, true}) {
                const Instant target = isPrecise ? t + delay + since : t + 1s;
                const int option = isPrecise ? 1 - dateOption : dateOption;
                now = target + milliseconds(uniform(180'001) - 90'000) -
                      hours(isPrecise ? uniform(3) : 0);
                const milliseconds off = now - target;
                sets.clear();
                const auto out =
                    isPrecise ? precise.apply(local, gps, option,
                                              ClockUpdate::Precise{utc, delay, steadyNow - since})
                              : whole.apply(local, gps, option);
                if (t < first) continue;
                ++checked;
                EXPECT_EQ(sets.size(), 1u + option) << "sets with the date option " << option;
                if (isPrecise) {
                    EXPECT_EQ(out.wasAhead->count(), off.count());
                }
                if (sets.empty()) continue;
                EXPECT_EQ((sets.back() - target).count(), 0)
                    << "ms set off the instant, the PC " << off.count() << " ms off, "
                    << (isPrecise ? "precise, " : "") << "date option " << option;
            }
            if (t >= first && alsoAt) alsoAt(t);
        }
    }
    return checked;
}

}  // namespace tidewell::testing
