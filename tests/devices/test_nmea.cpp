#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "devices/nmea_decode.h"
#include "devices/nmea_framer.h"
#include "devices/nmea_receiver_posix.h"
#include "platform/error.h"

namespace tidewell {
namespace {

using namespace std::string_literals;

std::vector<std::string> frameWhole(const std::string& bytes) {
    std::vector<std::string> lines;
    NmeaFramer framer;
    framer.feed(bytes, [&](std::string_view l) { lines.emplace_back(l); });
    return lines;
}

std::vector<std::string> frameByteByByte(const std::string& bytes) {
    std::vector<std::string> lines;
    NmeaFramer framer;
    for (char c : bytes) framer.feed(std::string_view(&c, 1), [&](std::string_view l) { lines.emplace_back(l); });
    return lines;
}

struct FramingCase {
    const char* what;
    std::string bytes;
    std::vector<std::string> lines;
};

TEST(NmeaFramer, LinesFromBytes) {
    const std::string longest = "$" + std::string(NmeaFramer::kMaxSentence - 1, 'A');
    const FramingCase cases[] = {
        {"CR LF ends a sentence", "$GPGGA,1*00\r\n", {"$GPGGA,1*00"}},
        {"LF alone ends a sentence", "$GPGGA,1*00\n$GPGLL*00\n", {"$GPGGA,1*00", "$GPGLL*00"}},
        {"bare CR ends a sentence", "$GPGGA,1*00\r$GPGLL*00\r", {"$GPGGA,1*00", "$GPGLL*00"}},
        {"no line end yet, nothing out", "$GPGGA,1*00", {}},
        {"bytes before the first $ are skipped", "xx,*12\r\n$GPZDA*00\r\n", {"$GPZDA*00"}},
        {"NUL ends a sentence, the bytes before it passed on",
         "$GPRMC,1,A,48\0\0\0   \r\n$GPZDA*00\r\n"s, {"$GPRMC,1,A,48", "$GPZDA*00"}},
        {"binary byte ends a sentence, the rest skipped", "$GPGGA,1\x80\xff,2*00\r\n",
         {"$GPGGA,1"}},
        {"TAB is not printable either", "$GPGGA,1\t2*00\r\n", {"$GPGGA,1"}},
        {"binary junk without $ gives nothing", "\x01\x02\xb5\x62\r\n\x00\xff"s, {}},
        {"binary junk right before a sentence", "\xb5\x62\x01\x07\x5c$GNRMC,1*00\r\n",
         {"$GNRMC,1*00"}},
        {"$$ starts at the second $", "$$GNRMC,1*00\r\n", {"$GNRMC,1*00"}},
        {"a sentence that lost its end is dropped for the next $",
         "$GPGSA,A,1,,*1E$GPRMC,235949.00,V*44\r\n", {"$GPRMC,235949.00,V*44"}},
        {"longest kept line", longest + "\r\n", {longest}},
        {"one byte longer is dropped up to the next $",
         longest + "A\r\nstill dropped\r\n$GPZDA*00\r\n", {"$GPZDA*00"}},
        {"AIS line ignored", "!AIVDM,1,1,,A,13aG?P,0*7B\r\n$GPGGA*00\r\n", {"$GPGGA*00"}},
        {"! inside a sentence drops it", "$GPGGA,1!AIVDM,1*00\r\n", {}},
        {"a lone $ gives nothing", "$\r\n\n\r", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(frameWhole(c.bytes), c.lines) << c.what;
        EXPECT_EQ(frameByteByByte(c.bytes), c.lines) << c.what << " (byte by byte)";
    }
}

TEST(NmeaFramer, ResetDropsTheSentenceCutOff) {
    std::vector<std::string> lines;
    const auto sink = [&](std::string_view l) { lines.emplace_back(l); };
    NmeaFramer framer;
    framer.feed("$GPRMC,1234", sink);
    framer.reset();
    framer.feed("56,A*00\r\n$GPZDA*00\r\n", sink);
    EXPECT_EQ(lines, std::vector<std::string>{"$GPZDA*00"});
}

TEST(NmeaFramer, FinishPassesOnTheUnfinishedLineOnce) {
    std::vector<std::string> lines;
    const auto sink = [&](std::string_view l) { lines.emplace_back(l); };
    NmeaFramer framer;
    framer.feed("$GPGGA*00\r\n$GNRMC,001053.00,A,0.", sink);
    framer.finish(sink);
    framer.finish(sink);
    EXPECT_EQ(lines, (std::vector<std::string>{"$GPGGA*00", "$GNRMC,001053.00,A,0."}));
}

std::string withChecksum(const std::string& body) {
    char sum[4];
    std::snprintf(sum, sizeof sum, "%02X", nmeaChecksum(body));
    return "$" + body + "*" + sum;
}

std::string rmc(const std::string& time, const std::string& status, const std::string& date) {
    return withChecksum("GPRMC," + time + "," + status + ",4807.038,N,01131.000,E,022.4,084.4," +
                        date + ",003.1,W");
}

constexpr CivilDate kEarly{1980, 1, 1};

// Either the delivered type (and for RMC its UTC text) or the rejection.
std::string outcome(const std::string& line, CivilDate earliest = kEarly) {
    const auto r = decodeNmeaSentence(line, earliest);
    if (!r.sentence) return "rejected: " + r.rejection;
    if (r.sentence->utc) return r.sentence->TypeID + " " + formatUtcMillis(*r.sentence->utc);
    return r.sentence->TypeID;
}

struct DecodeCase {
    const char* what;
    std::string line;
    std::string expected;
};

TEST(NmeaDecode, ChecksumAndAddress) {
    const DecodeCase cases[] = {
        {"good checksum, type without talker", withChecksum("GPGGA,1,2"), "GGA"},
        {"lower-case hex digits", "$GPRMC,205150.00,V,,,,,,,,,,,V*4a", "rejected: status V"},
        {"upper-case hex digits", "$GPRMC,205150.00,V,,,,,,,,,,,V*4A", "rejected: status V"},
        {"no '*' at all", "$GPGGA,1,2", "rejected: no checksum"},
        {"wrong checksum", "$GPGGA,1,2*00", "rejected: checksum mismatch"},
        {"one checksum digit", "$GPGGA,1,2*0", "rejected: malformed checksum"},
        {"not hex", "$GPGGA,1,2*0G", "rejected: malformed checksum"},
        {"bytes after the checksum", withChecksum("GPGGA,1") + " ", "rejected: malformed checksum"},
        {"proprietary keeps its whole address", withChecksum("PGRME,15.0,M"), "PGRME"},
        {"short proprietary", withChecksum("PSRF"), "PSRF"},
        {"lower-case address", withChecksum("gpgga,1"), "rejected: bad address"},
        {"empty address", withChecksum(",1"), "rejected: bad address"},
        {"talker only", withChecksum("GP,1"), "rejected: bad address"},
        {"talker must be letters", withChecksum("G1RMC,1"), "rejected: bad address"},
        {"not starting with $", "GPGGA*00", "rejected: no '$'"},
    };
    for (const auto& c : cases) EXPECT_EQ(outcome(c.line), c.expected) << c.what;
}

TEST(NmeaDecode, EveryTalkerGivesRmc) {
    for (const char* talker : {"GP", "GN", "GL", "GA", "BD", "GB", "IN"}) {
        const auto line = withChecksum(std::string(talker) + "RMC,120000,A,,,,,,,070419,,");
        EXPECT_EQ(outcome(line), "RMC 2019-04-07T12:00:00.000") << talker;
    }
}

TEST(NmeaDecode, RmcTimeAndStatus) {
    const DecodeCase cases[] = {
        {"whole seconds", rmc("194101", "A", "070419"), "RMC 2019-04-07T19:41:01.000"},
        {".5 is 500 ms", rmc("123456.5", "A", "070419"), "RMC 2019-04-07T12:34:56.500"},
        {".03 is 30 ms", rmc("000345.03", "A", "070419"), "RMC 2019-04-07T00:03:45.030"},
        {"three digits kept", rmc("235959.997", "A", "070419"), "RMC 2019-04-07T23:59:59.997"},
        {"digits past ms cut, never rounded into the next second",
         rmc("235959.99991", "A", "311299"), "RMC 1999-12-31T23:59:59.999"},
        {"latest time of day", rmc("235959", "A", "070419"), "RMC 2019-04-07T23:59:59.000"},
        {"midnight", rmc("000000", "A", "070419"), "RMC 2019-04-07T00:00:00.000"},
        {"hour 24", rmc("240000", "A", "070419"), "rejected: bad time"},
        {"minute 60", rmc("236000", "A", "070419"), "rejected: bad time"},
        {"leap second 60", rmc("235960", "A", "070419"), "rejected: bad time"},
        {"five digits", rmc("23595", "A", "070419"), "rejected: bad time"},
        {"dot without digits", rmc("235959.", "A", "070419"), "rejected: bad time"},
        {"colon instead of dot", rmc("235959:5", "A", "070419"), "rejected: bad time"},
        {"letter in time", rmc("23595a", "A", "070419"), "rejected: bad time"},
        {"sign in time", rmc("+12345", "A", "070419"), "rejected: bad time"},
        {"empty time", rmc("", "A", "070419"), "rejected: time empty"},
        {"status V with good fields", rmc("120000", "V", "070419"), "rejected: status V"},
        {"empty status", rmc("120000", "", "070419"), "rejected: status empty"},
        {"lower-case a", rmc("120000", "a", "070419"), "rejected: status a"},
        {"status checked before time", rmc("", "V", ""), "rejected: status V"},
        {"too few fields", withChecksum("GPRMC,120000,A,4807.038,N"), "rejected: too few fields"},
        {"fully empty void RMC", "$GPRMC,,V,,,,,,,,,,N*53", "rejected: status V"},
    };
    for (const auto& c : cases) EXPECT_EQ(outcome(c.line), c.expected) << c.what;
}

TEST(NmeaDecode, RmcDate) {
    const DecodeCase cases[] = {
        {"29 Feb in a leap year", rmc("120000", "A", "290200"), "RMC 2000-02-29T12:00:00.000"},
        {"29 Feb otherwise", rmc("120000", "A", "290201"), "rejected: bad date"},
        {"31 April", rmc("120000", "A", "310419"), "rejected: bad date"},
        {"day 0", rmc("120000", "A", "000419"), "rejected: bad date"},
        {"month 0", rmc("120000", "A", "010019"), "rejected: bad date"},
        {"month 13", rmc("120000", "A", "011319"), "rejected: bad date"},
        {"five digits", rmc("120000", "A", "07041"), "rejected: bad date"},
        {"seven digits", rmc("120000", "A", "0704190"), "rejected: bad date"},
        {"four-digit year form", rmc("120000", "A", "07042019"), "rejected: bad date"},
        {"empty date", rmc("120000", "A", ""), "rejected: date empty"},
        {"yy 79 is 2079", rmc("120000", "A", "311279"), "RMC 2079-12-31T12:00:00.000"},
        {"yy 80 is 1980", rmc("120000", "A", "050180"), "RMC 1980-01-05T12:00:00.000"},
        {"yy 99 is 1999", rmc("000425", "A", "220899"), "RMC 1999-08-22T00:04:25.000"},
        {"yy 00 is 2000", rmc("000000", "A", "010100"), "RMC 2000-01-01T00:00:00.000"},
    };
    for (const auto& c : cases) EXPECT_EQ(outcome(c.line), c.expected) << c.what;
}

TEST(NmeaDecode, EarliestDateBoundary) {
    constexpr CivilDate earliest{2019, 4, 7};
    EXPECT_EQ(outcome(rmc("000000", "A", "070419"), earliest), "RMC 2019-04-07T00:00:00.000")
        << "the earliest day itself is valid";
    EXPECT_EQ(outcome(rmc("235959.999", "A", "060419"), earliest), "rejected: before 2019-04-07")
        << "the last moment of the day before";
    EXPECT_EQ(outcome(rmc("000425", "A", "220899"), earliest), "rejected: before 2019-04-07")
        << "a receiver's 1024-week rollover date";
    EXPECT_EQ(outcome(withChecksum("GPGGA,000425"), earliest), "GGA")
        << "other sentences carry no date to check";
}

TEST(NmeaDecode, RejectedRmcStillNamesItsType) {
    const auto r = decodeNmeaSentence(rmc("120000", "V", "070419"), kEarly);
    EXPECT_FALSE(r.sentence);
    EXPECT_EQ(r.typeId, "RMC");
    EXPECT_EQ(decodeNmeaSentence("$GNRMC,001053.00,A,0.", kEarly).typeId, "RMC");
}

TEST(NmeaDecode, UtcIsADateValue) {
    const auto r = decodeNmeaSentence(rmc("120000", "A", "010100"), kEarly);
    ASSERT_TRUE(r.sentence && r.sentence->utc);
    EXPECT_DOUBLE_EQ(*r.sentence->utc, 36526.5);  // 2000-01-01 noon
    EXPECT_DOUBLE_EQ(r.sentence->UTCDateTime(), 36526.5);
    const auto gga = decodeNmeaSentence(withChecksum("GPGGA,120000"), kEarly);
    ASSERT_TRUE(gga.sentence);
    EXPECT_FALSE(gga.sentence->utc);
    EXPECT_THROW(gga.sentence->UTCDateTime(), Error);
}

TEST(NmeaDecode, FormatUtcMillisRoundsToTheNearestMillisecond) {
    const struct {
        const char* what;
        double value;
        const char* text;
    } cases[] = {
        {"the epoch", 0.0, "1899-12-30T00:00:00.000"},
        {"before the epoch, time of day counted forward", -1.5, "1899-12-28T12:00:00.000"},
        {"half a millisecond short of midnight carries into the next day",
         36526.0 - 0.4e-3 / 86400, "2000-01-01T00:00:00.000"},
    };
    for (const auto& c : cases) EXPECT_EQ(formatUtcMillis(c.value), c.text) << c.what;
}

TEST(NmeaDecode, EarliestDateTexts) {
    EXPECT_EQ(parseIsoDate("2019-04-07"), (CivilDate{2019, 4, 7}));
    EXPECT_FALSE(parseIsoDate("2023-02-29")) << "no such day";
    EXPECT_FALSE(parseIsoDate("2019-4-07")) << "month needs two digits";
    EXPECT_FALSE(parseIsoDate("2019-04-07T")) << "trailing text";
    EXPECT_EQ(parseCompilerDate("Apr  7 2019"), (CivilDate{2019, 4, 7})) << "space-padded day";
    EXPECT_EQ(parseCompilerDate("Dec 31 2025"), (CivilDate{2025, 12, 31}));
    EXPECT_FALSE(parseCompilerDate("Abc  1 2024")) << "no such month";
    EXPECT_FALSE(parseCompilerDate("anA  1 2024")) << "month names match whole";
    EXPECT_TRUE(parseCompilerDate(__DATE__)) << "this compiler's own form";
}

TEST(PosixNmeaReceiver, OpenFailuresNameThePortAndDevice) {
    PosixNmeaReceiver receiver([](int n) { return n == 3 ? "/nonexistent/ttyS2"s : ""s; }, kEarly);
    int changes = 0;
    receiver.PortStateChanged = [&] { ++changes; };
    receiver.PortNumber = 3;
    try {
        receiver.OpenPort();
        FAIL() << "opened a missing device";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), ENOENT);
        EXPECT_STREQ(e.what(), "COM3 (/nonexistent/ttyS2): No such file or directory");
    }
    receiver.PortNumber = 4;
    EXPECT_THROW(receiver.OpenPort(), Error) << "a port with no device";
    receiver.PortNumber = 0;
    EXPECT_THROW(receiver.OpenPort(), Error) << "no port selected";
    EXPECT_FALSE(receiver.isOpen());
    EXPECT_EQ(receiver.readFd(), -1);
    EXPECT_NO_THROW(receiver.ClosePort()) << "closing with nothing open";
    EXPECT_EQ(changes, 0);
}

}  // namespace
}  // namespace tidewell
