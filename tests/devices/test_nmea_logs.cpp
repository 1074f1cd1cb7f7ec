#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "devices/nmea_decode.h"
#include "devices/nmea_framer.h"
#include "test_nmea_corpus.h"

namespace tidewell {
namespace {

using testing::kEarlyDate;

struct Deliveries {
    std::vector<std::string> rmcUtc;
    int others = 0;
    int othersWithUtc = 0;
};

Deliveries decodeLog(const std::string& bytes, CivilDate earliest) {
    Deliveries d;
    NmeaFramer framer;
    const auto onLine = [&](std::string_view line) {
        const auto r = decodeNmeaSentence(line, earliest);
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
    if (logs.empty()) GTEST_SKIP() << "no NMEA logs in '" << testing::nmeaLogsDir() << "'";
    std::size_t total = 0;
    for (const auto& log : logs) {
        SCOPED_TRACE(log.filename().string());
        const auto expected = testing::expectedDeliveries(testing::readExpected(log), kEarlyDate);
        const auto got = decodeLog(testing::readBytes(log), kEarlyDate);
        EXPECT_EQ(got.rmcUtc, expected);
        EXPECT_EQ(got.othersWithUtc, 0);
        total += got.rmcUtc.size();
    }
    EXPECT_GT(total, 0u);
}

TEST(NmeaLogs, BuildDateAsEarliestKeepsOldDatesOut) {
    const auto logs = testing::nmeaLogs();
    if (logs.empty()) GTEST_SKIP() << "no NMEA logs in '" << testing::nmeaLogsDir() << "'";
    const auto buildDate = parseCompilerDate(__DATE__);
    ASSERT_TRUE(buildDate);
    for (const auto& log : logs) {
        SCOPED_TRACE(log.filename().string());
        const auto rows = testing::readExpected(log);
        const auto got = decodeLog(testing::readBytes(log), *buildDate);
        EXPECT_EQ(got.rmcUtc, testing::expectedDeliveries(rows, *buildDate));
    }
}

// The cold-boot receiver says 1999-08-22 when it means 2019-04-07. Those sentences are void
// anyway; made valid they still must not pass a later earliest date.
TEST(NmeaLogs, RolloverDatesOfTheColdBootLogAreRejected) {
    const auto log = testing::nmeaLogsDir() / "gp-320fw-2019-04-07-coldboot.log";
    if (!std::filesystem::exists(log)) GTEST_SKIP() << "missing " << log;
    const auto buildDate = parseCompilerDate(__DATE__);
    ASSERT_TRUE(buildDate);
    int rollover = 0;
    for (const auto& row : testing::readExpected(log)) {
        if (!row.utc.starts_with("1999-")) continue;
        ++rollover;
        SCOPED_TRACE(row.sentence);
        EXPECT_FALSE(decodeNmeaSentence(row.sentence, *buildDate).sentence);
        EXPECT_FALSE(decodeNmeaSentence(row.sentence, kEarlyDate).sentence) << "void";

        std::string body = row.sentence.substr(1, row.sentence.find('*') - 1);
        const auto status = body.find(",V,");
        ASSERT_NE(status, std::string::npos);
        body[status + 1] = 'A';
        char sum[4];
        std::snprintf(sum, sizeof sum, "%02X", nmeaChecksum(body));
        const std::string valid = "$" + body + "*" + sum;
        const auto late = decodeNmeaSentence(valid, *buildDate);
        EXPECT_FALSE(late.sentence);
        EXPECT_TRUE(late.rejection.starts_with("before ")) << late.rejection;
        const auto early = decodeNmeaSentence(valid, kEarlyDate);
        ASSERT_TRUE(early.sentence && early.sentence->utc);
        EXPECT_EQ(formatUtcMillis(*early.sentence->utc), row.utc);
    }
    EXPECT_EQ(rollover, 7);
}

}  // namespace
}  // namespace tidewell
