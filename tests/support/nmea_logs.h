#pragma once
// The receiver logs with their expected decodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <vector>

#include "temp_folder.h"
#include "devices/nmea_decode.h"

namespace tidewell::testing {

inline constexpr DateWindow kAnyDate{};

inline std::string withChecksum(std::string_view body) {
    char sum[4];
    std::snprintf(sum, sizeof sum, "%02X", nmeaChecksum(body));
    return "$" + std::string(body) + "*" + sum;
}

// Every *.log, by name; fewer or more than the repository holds fails the calling test.
inline std::vector<std::filesystem::path> nmeaLogs() {
    std::vector<std::filesystem::path> logs;
    for (const auto& entry : std::filesystem::directory_iterator(TIDEWELL_NMEA_LOGS_DIR))
        if (entry.path().extension() == ".log") logs.push_back(entry.path());
    EXPECT_EQ(logs.size(), 24u) << "logs in " TIDEWELL_NMEA_LOGS_DIR;
    std::sort(logs.begin(), logs.end());
    return logs;
}

// The UTC texts the receiver must deliver for `log`, in order, from its .expected.tsv (columns
// line, sentence, checksum, status, utc): good checksum, status A, a valid time.
inline std::vector<std::string> expectedDeliveries(std::filesystem::path log) {
    std::vector<std::string> out;
    std::istringstream in(readBytes(log.replace_extension(".expected.tsv")));
    for (std::string text; std::getline(in, text);) {
        std::vector<std::string> cols(1);
        for (char c : text) c == '\t' ? void(cols.emplace_back()) : cols.back().push_back(c);
        if (cols.size() == 5 && cols[2] == "1" && cols[3] == "A" && cols[4] != "invalid")
            out.push_back(cols[4]);
    }
    EXPECT_FALSE(in.str().empty()) << log;
    return out;
}

}  // namespace tidewell::testing
