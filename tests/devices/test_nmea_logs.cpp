#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/nmea_decode.h"
#include "gps/date_value.h"
#include "devices/nmea_framer.h"
#include "test_nmea_corpus.h"

namespace tidewell {
namespace {

using testing::kAnyDate;

struct Deliveries {
    std::vector<std::string> rmcUtc;
    int others = 0;
    int othersWithUtc = 0;
};

Deliveries decodeLog(const std::string& bytes, const DateWindow& dates) {
    Deliveries d;
    NmeaFramer framer;
    const auto onLine = [&](std::string_view line) {
        const auto r = decodeNmeaSentence(line, dates);
        if (!r.sentence) return;
        if (r.sentence->TypeID == "RMC") {
            d.rmcUtc.push_back(r.sentence->utc ? formatUtcMillis(*r.sentence->utc) : "no utc");
        } else {
            ++d.others;
            if (r.sentence->utc) ++d.othersWithUtc;
        }
    };
    framer.feed(bytes, onLine);
    framer.finish(onLine);
    return d;
}

TEST(NmeaLogs, FileDecodesAsExpected) {
    const auto logs = testing::nmeaLogs();
    std::size_t total = 0;
    for (const auto& log : logs) {
        SCOPED_TRACE(log.filename().string());
        const auto expected = testing::expectedDeliveries(testing::readExpected(log), kAnyDate);
        const auto got = decodeLog(testing::readBytes(log), kAnyDate);
        EXPECT_EQ(got.rmcUtc, expected);
        EXPECT_EQ(got.othersWithUtc, 0);
        total += got.rmcUtc.size();
    }
    EXPECT_GT(total, 0u);
}

}  // namespace
}  // namespace tidewell
