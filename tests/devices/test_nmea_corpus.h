#pragma once
// The receiver logs with their expected decodes, shared by the file and the pty tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "devices/nmea_decode.h"

namespace tidewell::testing {

// One row of a .expected.tsv; its line number and sentence columns are for people.
struct ExpectedRmc {
    std::string checksum, status, utc;
};

inline constexpr std::size_t kNmeaLogCount = 24;

// Every *.log, by name. A log or an expected decode without its partner, or fewer or more logs
// than the collection holds, fails the calling test: the logs are in the repository.
inline std::vector<std::filesystem::path> nmeaLogs() {
    namespace fs = std::filesystem;
    constexpr std::string_view kTsv = ".expected.tsv";
    const fs::path dir = TIDEWELL_NMEA_LOGS_DIR;
    std::vector<fs::path> logs;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        const bool isLog = name.ends_with(".log");
        if (!isLog && !name.ends_with(kTsv)) continue;
        const std::string stem = name.substr(0, name.size() - (isLog ? 4 : kTsv.size()));
        const fs::path partner = dir / (stem + std::string(isLog ? kTsv : ".log"));
        if (!fs::exists(partner))
            ADD_FAILURE() << "missing " << partner;
        else if (isLog)
            logs.push_back(entry.path());
    }
    if (ec) ADD_FAILURE() << "reading " << dir << ": " << ec.message();
    EXPECT_EQ(logs.size(), kNmeaLogCount) << "logs in " << dir;
    std::sort(logs.begin(), logs.end());
    return logs;
}

inline std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline std::vector<ExpectedRmc> readExpected(std::filesystem::path log) {
    std::vector<ExpectedRmc> rows;
    std::istringstream in(readBytes(log.replace_extension(".expected.tsv")));
    for (std::string text; std::getline(in, text);) {
        std::vector<std::string> cols(1);  // line, sentence, checksum, status, utc
        for (char c : text) c == '\t' ? void(cols.emplace_back()) : cols.back().push_back(c);
        if (cols.size() == 5) rows.push_back({cols[2], cols[3], cols[4]});
    }
    return rows;
}

// The UTC texts the receiver must deliver, in order: good checksum, status A, a valid
// time, a date inside `dates`.
inline std::vector<std::string> expectedDeliveries(const std::vector<ExpectedRmc>& rows,
                                                   const DateWindow& dates) {
    std::vector<std::string> out;
    for (const auto& r : rows) {
        if (r.checksum != "1" || r.status != "A" || r.utc == "invalid") continue;
        const auto date = calendar::parseIsoDate(r.utc.substr(0, 10));
        if (date && *date >= dates.earliest && *date <= dates.latest) out.push_back(r.utc);
    }
    return out;
}

inline constexpr DateWindow kAnyDate{};

}  // namespace tidewell::testing
