#include <random>

#include "app/json_text.h"
#include "app/report_flow.h"
#include "app/status.h"
#include "app/status_request.h"
#include "window_fixture.h"

namespace tidewell {
namespace {

using namespace std::chrono;

// A strict reader of one JSON string, as RFC 8259 has it; empty when `json` is not one.
std::optional<std::string> readJsonString(std::string_view json) {
    if (json.size() < 2 || json.front() != '"' || json.back() != '"') return std::nullopt;
    const std::string_view simple = "\"\\/bfnrt", meaning = "\"\\/\b\f\n\r\t";
    std::string out;
    for (std::size_t i = 1; i + 1 < json.size(); ++i) {
        const auto c = static_cast<unsigned char>(json[i]);
        if (c < 0x20 || c == '"') return std::nullopt;
        if (c != '\\') {
            out += char(c);
        } else if (++i + 1 >= json.size()) {
            return std::nullopt;
        } else if (const auto at = simple.find(json[i]); at != std::string_view::npos) {
            out += meaning[at];
        } else if (json[i] == 'u' && i + 5 < json.size()) {
            const unsigned code = std::stoul(std::string(json.substr(i + 1, 4)), nullptr, 16);
            if (code >= 0x80) return std::nullopt;  // the writer escapes only ASCII controls
            out += char(code), i += 4;
        } else {
            return std::nullopt;
        }
    }
    return out;
}

// Random code points (controls, quotes, two- to four-byte forms) come back whole; mixed with
// random bytes they always give valid JSON, each broken sequence a U+FFFD.
TEST(JsonText, EveryStringRoundTripsAndAnyBytesGiveAValidString) {
    std::mt19937 random(20240607);
    const auto draw = [&](auto from, auto to) {
        return std::uniform_int_distribution<decltype(from)>(from, to)(random);
    };
    const auto utf8 = [](unsigned c) {
        if (c < 0x80) return std::string(1, char(c));
        const int n = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        std::string s(std::size_t(n), '\0');
        for (int i = n - 1; i > 0; --i, c >>= 6) s[std::size_t(i)] = char(0x80 | (c & 0x3F));
        s[0] = char(0xF00u >> n | c);  // the lead byte: 110..., 1110... or 11110...
        return s;
    };
    const unsigned ranges[][2] = {
        {0, 0x7F}, {0x80, 0x7FF}, {0x800, 0xD7FF}, {0xE000, 0xFFFF}, {0x10000, 0x10FFFF}};
    for (int n = 0; n < 40000; ++n) {
        const bool raw = n % 2;
        std::string text;
        for (int i = draw(0, 12); i > 0; --i) {
            const auto& r = ranges[draw(0, 4)];
            text += raw && draw(0, 1) ? std::string(1, char(draw(0, 255))) : utf8(draw(r[0], r[1]));
        }
        const std::string json = jsonString(text);
        const auto back = readJsonString(json);
        ASSERT_TRUE(back) << json;
        // What comes back is well-formed: escaping it again changes nothing but the escapes.
        EXPECT_EQ(jsonString(*back), json);
        if (!raw || back->find("\xEF\xBF\xBD") == std::string::npos) {
            ASSERT_EQ(*back, text) << json;
        }
    }
}

// One scripted run: each degraded state is named while it lasts and gone once it is over.
TEST_F(WindowTest, StatusHealthFollowsValidTimeClockRefusalsAndFailingOutputs) {
    StatusRecorder::Steady::time_point now{24h};
    StatusRecorder::Wall::time_point wall = StatusRecorder::Wall::now();
    const PortMap ports{profile, file};
    StatusRecorder status{ports, true, [&] { return now; }, [&] { return wall; }};
    const auto problems = [&] { return status.report().problems; };
    stored({"GPS/COMPORT=COM2", "UDP/SendUDP= 1", "UDP/UDPaddress=127.0.0.1"});
    status.loaded(load(), "", "");
    EXPECT_TRUE(problems().empty()) << "a minute's grace at start";

    // Valid RMCs whose first byte came `late` after the second they name, read 100 ms later.
    for (const auto late : {300ms, 310ms, 290ms}) {
        const auto named = floor<seconds>(wall) + 1s;
        now += 1s, wall = named + late + 100ms;
        status.sentenceReceived(
            {"RMC", duration<double, days::period>(named.time_since_epoch() + days(25569)).count(),
             now - 100ms});
    }
    ReceptionTally tally;
    tally.times = 3, tally.rejected = {{"status V", 2}, {"checksum mismatch", 1}, {"bad date", 1}};
    status.receptionTallied(tally);
    StatusReport r = status.report();
    EXPECT_EQ(r.receptionText, "valid");
    EXPECT_NEAR(*r.phase, 0.300, 1e-6);
    EXPECT_EQ(r.phaseCount, 3u);
    const auto& m = r.lastMinute;
    EXPECT_EQ(std::tuple(m.valid, m.statusV, m.checksum, m.other), std::tuple(3u, 2u, 1u, 1u));

    status.frameSent(Output::Udp, "");
    status.frameFailed(Output::Udp, Error(10051, "Network is unreachable"));
    status.clockRefused(Error(1314, "A required privilege is not held by the client."), 0);
    EXPECT_EQ(problems(), (Strings{"clock refused: A required privilege is not held by the client.",
                                   "udp sync failing: 10051 Network is unreachable"}));
    status.frameSent(Output::Udp, "");
    status.clockSet({true, true, true, {}, {}, {}}, 45000.5);
    EXPECT_TRUE(problems().empty());
    // Handed to chrony, the clock is kept only while chrony's socket takes the samples.
    status.clockMode(ClockMode::Chrony, {});
    status.refclockFailed(Error(2, "Reaching /run/chrony.tidewell.sock: No such file"));
    EXPECT_EQ(problems(),
              Strings{"chrony not reached: Reaching /run/chrony.tidewell.sock: No such file"});
    status.refclockResumed("/run/chrony.tidewell.sock");
    status.refclockSample({});
    EXPECT_TRUE(problems().empty());
    EXPECT_EQ(status.report().refclockSamples, 1u);
    status.clockMode(ClockMode::WholeSecond, {});

    now += 30s;
    status.receptionTallied({100, 1, 1, 0, {{"status V", 1}}});
    EXPECT_EQ(status.report().receptionText, "no valid fix (status V)");
    now += 31s;
    EXPECT_EQ(problems(), Strings{"no valid time for 1 min 1 s (no valid fix (status V))"});
    now += 60s;
    r = status.report();
    EXPECT_EQ(r.receptionText, "no data") << "a minute's tallies are forgotten";
    EXPECT_FALSE(r.phase);
    EXPECT_EQ(r.total.statusV, 3u) << "totals are not";

    const std::string text = statusText(r);
    EXPECT_TRUE(text.starts_with("tidewell: degraded: no valid time for 2 min 1 s (no data)\n"))
        << text;
    for (const char* item : {"\n  last set:   would set date and time 2023-03-15 12:00:00",
                             "once per minute; 2 frames sent, 1 failed"})
        EXPECT_NE(text.find(item), std::string::npos) << item << "\n" << text;
    EXPECT_TRUE(statusJson(r).starts_with("{\"health\": \"degraded\", \"problems\": [\"no valid"));
}

// ---- The report ------------------------------------------------------------------------

// "A" fails every second from 0 to 150, "B" at 10 and 20; the limiter is asked every second.
// Whole lines are dropped when full, their count told once drained. For the journal each line
// starts with its priority: refusals and failures stand out, also when repeated (the end-to-end
// service test checks the commonest kinds).
TEST(Report, AnIdenticalLineAtMostOnceAMinuteAndAFullQueueDropsWholeLinesWithTheirPriority) {
    RepeatLimiter limiter;
    Strings printed;
    for (int s = 0; s <= 250; ++s) {
        const auto now = RepeatLimiter::Clock::time_point{} + std::chrono::seconds(s);
        auto print = [&](const Strings& lines) {
            for (const std::string& l : lines) printed.push_back(std::to_string(s) + " " + l);
        };
        print(limiter.expire(now));
        if (s <= 150) print(limiter.admit("A", now));
        if (s == 10 || s == 20) print(limiter.admit("B", now));
    }
    EXPECT_EQ(printed, (Strings{"0 A", "10 B", "60 A (repeated 59 times in the last minute)",
                                "70 B (repeated once in the last minute)",
                                "120 A (repeated 60 times in the last minute)",
                                "180 A (repeated 31 times in the last minute)"}));
    EXPECT_FALSE(limiter.nextExpiry()) << "quiet lines are forgotten";

    LineQueue queue(20);
    for (const char* line : {"aaaa", "bbbbbbbbbb", "cccc", "dd", "e"}) queue.push(line);
    EXPECT_EQ(queue.pending(), "aaaa\nbbbbbbbbbb\ndd\n");
    queue.consume(7);
    EXPECT_EQ(queue.pending(), "bbbbbbbb\ndd\n") << "a part written leaves the rest first";
    queue.consume(12);
    EXPECT_EQ(queue.pending(), "report: 2 lines dropped while output was blocked\n");
    queue.consume(queue.pending().size());
    EXPECT_TRUE(queue.empty());

    LineQueue journal(250, true);
    for (const char* line : {"clock: refused: Operation not permitted",
                             "frame udp not sent: 126 x (repeated 59 times in the last minute)",
                             "settings: [Log] LEVEL \"quiet\" is not events or seconds",
                             "gps port: COM1 /dev/ttyUSB0 closed, sets time only"})
        journal.push(line);
    journal.push(std::string(200, '.'));
    Strings prefixes;
    for (std::size_t at = 0; at < journal.pending().size();
         at = journal.pending().find('\n', at) + 1)
        prefixes.emplace_back(journal.pending().substr(at, 3));
    EXPECT_EQ(prefixes, (Strings{"<3>", "<3>", "<4>", "<6>"}));
    journal.consume(journal.pending().size());
    EXPECT_EQ(journal.pending(), "<4>report: 1 line dropped while output was blocked\n");
}

}  // namespace
}  // namespace tidewell
