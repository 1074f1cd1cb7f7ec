#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "devices/line_speed.h"
#include "devices/nmea_framer.h"
#include "devices/reception_tally.h"
#include "devices/sentence_freshness.h"
#include "gps/date_value.h"
#include "nmea_logs.h"

namespace tidewell {
namespace {

using testing::withChecksum;

// The lines framed from `bytes` fed `chunk` bytes at a time; the framer is reset at each '|'.
std::vector<std::string> frame(const std::string& bytes, std::size_t chunk) {
    std::vector<std::string> lines;
    NmeaFramer framer;
    for (std::size_t i = 0; i < bytes.size(); i += chunk)
        for (std::string_view part = std::string_view(bytes).substr(i, chunk); !part.empty();) {
            framer.feed(part.substr(0, part.find('|')), [&](auto l) { lines.emplace_back(l); });
            if (part.find('|') == part.npos) break;
            framer.reset(), part.remove_prefix(part.find('|') + 1);
        }
    return lines;
}

TEST(NmeaFramer, LinesFromBytes) {
    const std::string longest = "$" + std::string(NmeaFramer::kMaxSentence - 1, 'A');
    const std::tuple<const char*, std::string, std::vector<std::string>> rows[] = {
        // clang-format off
        {"CR LF, LF and bare CR each end a sentence", "$GPGGA*00\r\n$GPGLL*00\n$GPZDA*00\r", {"$GPGGA*00", "$GPGLL*00", "$GPZDA*00"}},
        {"longest kept line", longest + "\r\n", {longest}},
        {"one byte longer is dropped up to the next $", longest + "A\r\nstill dropped\r\n$GPZDA*00\r\n", {"$GPZDA*00"}},
        {"a reset drops the sentence cut off", "$GPRMC,1234|56,A*00\r\n$GPZDA*00\r\n", {"$GPZDA*00"}},
        // clang-format on
    };
    for (const auto& [what, bytes, lines] : rows) {
        EXPECT_EQ(frame(bytes, bytes.size()), lines) << what;
        EXPECT_EQ(frame(bytes, 1), lines) << what << " (byte by byte)";
    }
}

std::string rmc(const std::string& time, const std::string& status, const std::string& date) {
    return withChecksum("GPRMC," + time + "," + status + ",4807.038,N,01131.000,E,022.4,084.4," +
                        date + ",003.1,W");
}

// Each sentence's type and UTC or why it is rejected; and a minute's tally says why no valid
// time came.
TEST(NmeaDecode, DeliveredTypeAndUtcOrTheRejectionAndTheTallySaysWhyNoValidTimeCame) {
    const DateWindow any{}, after2019 = gpsDateWindow({2019, 4, 7});
    const std::tuple<const char*, std::string, std::string, DateWindow> decodes[] = {
        // clang-format off
        {"proprietary keeps its whole address", withChecksum("PGRME,15.0,M"), "PGRME", any},
        {"leap second 60", rmc("235960", "A", "070419"), "rejected: bad time", any},
        {"digits past ms cut, never rounded into the next second", rmc("235959.99991", "A", "311299"), "RMC 1999-12-31T23:59:59.999", any},
        {"29 Feb of a common year", rmc("120000", "A", "290201"), "rejected: bad date", any},
        {"yy 79 is 2079", rmc("120000", "A", "311279"), "RMC 2079-12-31T12:00:00.000", any},
        {"the earliest day itself", rmc("000000", "A", "070419"), "RMC 2019-04-07T00:00:00.000", after2019},
        {"the last moment before it", rmc("235959.999", "A", "060419"), "rejected: before 2019-04-07", after2019},
        {"the last day of the 1024 weeks after it", rmc("235959.999", "A", "211138"), "RMC 2038-11-21T23:59:59.999", after2019},
        {"the first day beyond them", rmc("000000", "A", "221138"), "rejected: after 2038-11-21", after2019},
        // clang-format on
    };
    for (const auto& [what, line, expected, dates] : decodes) {
        const auto d = decodeNmeaSentence(line, dates);
        std::string got = d.sentence ? d.sentence->TypeID : "rejected: " + d.rejection;
        if (d.sentence && d.sentence->utc) got += " " + formatUtcMillis(*d.sentence->utc);
        EXPECT_EQ(got, expected) << what;
    }

    const std::string fix = rmc("120000", "A", "070419"), noFix = rmc("120000", "V", "070419");
    const std::string gga = withChecksum("GPGGA,1,2"), badGga = "$GPGGA,1,2*00";
    const std::tuple<const char*, std::uint64_t, std::vector<std::string>, std::string> rows[] = {
        // clang-format off
        {"silent line", 0, {}, "nothing received in the last 60 s"},
        {"one valid time among failures", 200, {noFix, fix, badGga}, ""},
        {"no fix, and noise", 300, {noFix, badGga, noFix, noFix}, "no valid time in the last 60 s: 3 status V, 1 checksum mismatch"},
        {"no RMC sent", 50, {gga, gga}, "no valid time in the last 60 s: no RMC among 2 sentences"},
        {"wrong line speed", 480, {}, "no valid time in the last 60 s: no sentence in 480 bytes"},
        // clang-format on
    };
    for (const auto& [what, bytes, lines, report] : rows) {
        ReceptionTally tally;
        tally.bytes = bytes;
        for (const auto& line : lines) tally.add(decodeNmeaSentence(line, {}));
        EXPECT_EQ(noTimeReport(tally, 60), report) << what;
    }
}

TEST(LineSpeed, SettingsAndTheHuntThroughEverySpeed) {
    EXPECT_EQ(parseLineSpeed(" 115200")->baud, 115200);
    EXPECT_TRUE(parseLineSpeed("Auto")->automatic);
    for (const char* bad : {"4801", "9600x", "-4800", "automatic"})
        EXPECT_FALSE(parseLineSpeed(bad)) << bad;

    // The receiver answers only at speed k, once a second; noise comes at every other speed.
    // Then it restarts at speed j: after ten seconds of noise the hunt finds j.
    for (int k : SpeedHunt::kOrder)
        for (int j : SpeedHunt::kOrder) {
            SpeedHunt h;
            auto now = SpeedHunt::Clock::time_point{} + std::chrono::hours(1);
            for (int speed : {k, j}) {
                bool found = h.found() && h.speed() == speed;
                for (int steps = 0; steps < 100 && !found; ++steps) {
                    const bool right = h.speed() == speed;
                    now += std::chrono::milliseconds(right ? 1000 : 1600);
                    found = h.input(now, right ? 1 : 0) == SpeedHunt::Step::Found;
                }
                EXPECT_TRUE(found && h.found() && h.speed() == speed) << k << " then " << j;
            }
        }
}

// A receiver sending once a second, some hundred ms after the second, its sentences read as
// they come, until the program stalls for up to 90 s; then the backlog is read at once, or
// only the last sentence waited. Whatever the receiver's delay, jitter and clock drift: no
// sentence that waited more than a second is fresh, every one read live is, and each stall's
// late sentences are counted once.
TEST(SentenceFreshness, OnlyLiveSentencesAreFresh) {
    using namespace std::chrono;
    std::mt19937 rng(7);
    const auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution(lo, hi)(rng); };
    for (int run = 0; run < 2000; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        SentenceFreshness freshness;
        const auto delay = milliseconds(uniform(50, 900)), stall = milliseconds(uniform(0, 90'000));
        const double drift = std::uniform_real_distribution(-1e-4, 1e-4)(rng);
        const int stallAt = uniform(1, 400);
        const auto comes = [&](int n) {  // the steady time sentence n comes off the line
            return SentenceFreshness::Clock::time_point{} + hours(1000) + delay +
                   duration_cast<steady_clock::duration>(seconds(n) * (1 + drift)) +
                   milliseconds(uniform(-20, 20));
        };
        std::vector<NmeaSentence> read;
        const auto judge = [&](int first, std::vector<steady_clock::time_point> stamps) {
            read.clear();
            std::vector<NmeaSentence*> pointers;
            for (std::size_t k = 0; k < stamps.size(); ++k)
                read.push_back({"RMC", 46000 + (first + int(k)) / 86400.0, stamps[k], true});
            for (auto& s : read) pointers.push_back(&s);
            return freshness.judge(pointers);
        };
        for (int n = 0; n < stallAt; ++n)  // read live up to the stall
            ASSERT_TRUE(judge(n, {comes(n)}) == 0 && read[0].fresh) << "sentence " << n;
        // The read after the stall holds what came meanwhile, each stamped as if its bytes
        // had just come, as a reader sees a backlog.
        const auto readAt = comes(stallAt) + stall;
        int next = stallAt + 1;
        while (comes(next) <= readAt) ++next;
        std::vector<steady_clock::time_point> stamps;
        for (int k = stallAt; k < next; ++k)
            stamps.push_back(readAt - milliseconds(50 + 100 * (next - 1 - k)));
        judge(stallAt, stamps);
        const auto waited = read.back().arrived - comes(next - 1);
        std::uint64_t late = 0;
        for (const auto& s : read) {
            late += !s.fresh;
            if (read.size() > 1 || waited > milliseconds(1100)) {
                ASSERT_FALSE(s.fresh);
            } else if (waited < milliseconds(900)) {
                ASSERT_TRUE(s.fresh);
            }
        }
        ASSERT_EQ(judge(next, {comes(next)}), late) << "live again: the first fresh one tells";
        ASSERT_TRUE(read[0].fresh);
    }
}

}  // namespace
}  // namespace tidewell
