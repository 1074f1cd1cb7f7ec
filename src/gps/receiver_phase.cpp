#include "gps/receiver_phase.h"

#include <algorithm>

namespace tidewell {

double firstByteDelaySeconds(DateValue utc, std::chrono::steady_clock::time_point arrived,
                             std::chrono::system_clock::time_point wallNow,
                             std::chrono::steady_clock::time_point steadyNow) {
    using Seconds = std::chrono::duration<double>;
    const Seconds ago = steadyNow - arrived;
    const Seconds late = wallNow - instantOf(utc);
    return (late - ago).count();
}

double upperMedian(std::vector<double>& values) {
    if (values.empty()) return 0;
    const auto middle = values.begin() + long(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

}  // namespace tidewell
