#pragma once
// How late a receiver's sentences come after the UTC second they name, by the PC clock: the
// figure precise setting needs as DELAYMS, and a receiver's health in the status.
#include <chrono>
#include <vector>

#include "gps/date_value.h"

namespace tidewell {

// The delay of a sentence's first byte (`arrived`, steady clock) after `utc`, the instant
// it names; `wallNow` and `steadyNow` are read together, so the clocks meet at one moment.
// Only as right as the PC clock: meaningful on a PC that NTP keeps in step.
double firstByteDelaySeconds(DateValue utc, std::chrono::steady_clock::time_point arrived,
                             std::chrono::system_clock::time_point wallNow,
                             std::chrono::steady_clock::time_point steadyNow);

// The upper median (the element at n/2 of the sorted values); the values are reordered.
// Empty input: 0.
double upperMedian(std::vector<double>& values);

}  // namespace tidewell
