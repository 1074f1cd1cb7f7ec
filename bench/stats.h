#pragma once
// Order statistics for the timing harnesses.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <vector>

namespace tidewell::bench {

// Nearest-rank percentile (p in 0..100) of an ascending, non-empty sample.
inline double percentile(const std::vector<double>& sorted, double p) {
    const auto n = sorted.size();
    auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * double(n)));
    rank = std::clamp<std::size_t>(rank, 1, n);
    return sorted[rank - 1];
}

// One line per figure, so a reader or a script can pick them out.
inline void printSummary(std::vector<double> values, const char* unit) {
    std::sort(values.begin(), values.end());
    std::printf("count:  %zu\n", values.size());
    if (values.empty()) return;
    std::printf("min:    %.3f %s\n", values.front(), unit);
    std::printf("median: %.3f %s\n", percentile(values, 50), unit);
    std::printf("p99:    %.3f %s\n", percentile(values, 99), unit);
    std::printf("max:    %.3f %s\n", values.back(), unit);
}

}  // namespace tidewell::bench
