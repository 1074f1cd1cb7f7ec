#include <random>

#include "app/json_text.h"
#include "app/status.h"
#include "app/status_request.h"
#include "window_fixture.h"

namespace tidewell {
namespace {

using namespace std::chrono_literals;

// A strict reader of one JSON string, as RFC 8259 has it; empty when `json` is not one.
std::optional<std::string> readJsonString(std::string_view json) {
    if (json.size() < 2 || json.front() != '"' || json.back() != '"') return std::nullopt;
    std::string out;
    for (std::size_t i = 1; i + 1 < json.size(); ++i) {
        const auto c = static_cast<unsigned char>(json[i]);
        if (c < 0x20 || c == '"') return std::nullopt;
        if (c != '\\') {
            out += char(c);
            continue;
        }
        if (++i + 1 >= json.size()) return std::nullopt;
        const std::string_view simple = "\"\\/bfnrt", meaning = "\"\\/\b\f\n\r\t";
        if (const auto at = simple.find(json[i]); at != std::string_view::npos) {
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

// Random code points (controls, quotes, two- to four-byte forms) come back whole; random
// bytes always give valid JSON, each broken sequence a U+FFFD.
TEST(JsonText, EveryStringRoundTripsAndAnyBytesGiveAValidString) {
    std::mt19937 random(20240607);
    const auto utf8 = [](char32_t c) {
        std::string s;
        if (c < 0x80) return s += char(c), s;
        if (c < 0x800) return s += char(0xC0 | c >> 6), s += char(0x80 | (c & 0x3F)), s;
        if (c < 0x10000) {
            s += char(0xE0 | c >> 12), s += char(0x80 | (c >> 6 & 0x3F));
            return s += char(0x80 | (c & 0x3F)), s;
        }
        s += char(0xF0 | c >> 18), s += char(0x80 | (c >> 12 & 0x3F));
        s += char(0x80 | (c >> 6 & 0x3F)), s += char(0x80 | (c & 0x3F));
        return s;
    };
    const char32_t ranges[][2] = {
        {0, 0x7F}, {0x80, 0x7FF}, {0x800, 0xD7FF}, {0xE000, 0xFFFF}, {0x10000, 0x10FFFF}};
    for (int n = 0; n < 20000; ++n) {
        std::string text;
        for (int i = std::uniform_int_distribution(0, 12)(random); i > 0; --i) {
            const auto& r = ranges[std::uniform_int_distribution(0, 4)(random)];
            text += utf8(std::uniform_int_distribution<char32_t>(r[0], r[1])(random));
        }
        ASSERT_EQ(readJsonString(jsonString(text)), text) << jsonString(text);

        std::string bytes(std::uniform_int_distribution(0, 12)(random), '\0');
        for (char& b : bytes) b = char(std::uniform_int_distribution(0, 255)(random));
        const std::string json = jsonString(bytes);
        const auto back = readJsonString(json);
        ASSERT_TRUE(back) << json;
        // What comes back is well-formed: escaping it again changes nothing but the escapes.
        EXPECT_EQ(jsonString(*back), json);
        if (back->find("\xEF\xBF\xBD") == std::string::npos) {
            EXPECT_EQ(*back, bytes);
        }
    }
}

// However a client splits its bytes, the verdict is the line's, and it comes once the line
// is whole or longer than the limit, never later.
TEST(StatusRequests, AnySplitGivesTheLinesVerdictWithinTheLimit) {
    std::mt19937 random(7);
    const std::string lines[] = {"status", "STATUS  json\r",      "history",   "status json extra",
                                 "",       std::string(300, 's'), "st\x01tus", "\xff"};
    for (int n = 0; n < 5000; ++n) {
        const std::string& line = lines[n % std::size(lines)];
        const std::string bytes = line + "\nstatus\n" + std::string(n % 50, 'x');
        StatusRequestReader reader;
        std::optional<StatusRequest> verdict;
        std::size_t fed = 0;
        while (!verdict && fed < bytes.size()) {
            const std::size_t piece = std::uniform_int_distribution<std::size_t>(1, 64)(random);
            verdict = reader.feed(std::string_view(bytes).substr(fed, piece));
            fed += piece;
            ASSERT_LE(reader.size(), StatusRequestReader::kMaxLine + 1);
        }
        ASSERT_TRUE(verdict) << line;
        const bool tooLong = line.size() > StatusRequestReader::kMaxLine;
        EXPECT_LE(fed, (tooLong ? StatusRequestReader::kMaxLine : line.size()) + 64);
        const StatusRequest expected = parseStatusRequest(line);
        EXPECT_EQ(verdict->kind, tooLong ? std::nullopt : expected.kind) << line;
        EXPECT_EQ(verdict->error.empty(), verdict->kind.has_value());
        EXPECT_EQ(reader.feed("status\n")->kind, verdict->kind) << "later bytes change nothing";
    }
    using Kind = StatusRequest::Kind;
    EXPECT_EQ(parseStatusRequest("status").kind, Kind::Status);
    EXPECT_EQ(parseStatusRequest(" Status\tJSON \r").kind, Kind::StatusJson);
    EXPECT_EQ(parseStatusRequest("history").kind, Kind::History);
    StatusRequestReader unfinished;
    EXPECT_FALSE(unfinished.feed("status"));
    EXPECT_EQ(unfinished.end().kind, Kind::Status) << "a client that shut its side";
}

struct StatusTest : WindowTest {
    StatusRecorder::Steady::time_point now{24h};
    StatusRecorder::Wall::time_point wall = StatusRecorder::Wall::now();
    PortMap ports{profile, file};
    StatusRecorder status{ports, true, [this] { return now; }, [this] { return wall; }};

    // A valid RMC whose first byte came `late` after the second it names, read `ago`.
    NmeaSentence sentence(std::chrono::milliseconds late, std::chrono::milliseconds ago) {
        const auto named = std::chrono::floor<std::chrono::seconds>(wall - late - ago);
        const auto days = std::chrono::duration<double, std::ratio<86400>>(
            named.time_since_epoch() + std::chrono::days(25569));
        NmeaSentence s{"RMC", days.count()};
        s.arrived = now - ago;
        wall = named + late + ago;
        return s;
    }
    std::vector<std::string> problems() { return status.report().problems; }
};

// One scripted run: each degraded state is named while it lasts and gone once it is over.
TEST_F(StatusTest, HealthFollowsValidTimeClockRefusalsAndFailingOutputs) {
    stored("GPS", "COMPORT", "COM2");
    stored("UDP", "SendUDP", " 1");
    stored("UDP", "UDPaddress", "127.0.0.1");
    status.loaded(load(), "", "");
    EXPECT_TRUE(problems().empty()) << "a minute's grace at start";

    for (int ms : {300, 310, 290}) {
        now += 1s;
        status.sentenceReceived(sentence(std::chrono::milliseconds(ms), 100ms));
    }
    ReceptionTally tally;
    tally.times = 3, tally.rejected = {{"status V", 2}, {"checksum mismatch", 1}, {"bad date", 1}};
    status.receptionTallied(tally);
    StatusReport r = status.report();
    EXPECT_EQ(r.receptionText, "valid");
    EXPECT_NEAR(*r.phase, 0.300, 1e-6);
    EXPECT_EQ(r.phaseCount, 3u);
    EXPECT_EQ(
        r.lastMinute.valid + r.lastMinute.statusV + r.lastMinute.checksum + r.lastMinute.other, 7u);
    EXPECT_EQ(r.lastMinute.statusV, 2u);
    EXPECT_EQ(r.lastMinute.checksum, 1u);

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
    for (const char* item :
         {"\nreceiver:     COM2", "\n  last set:   would set date and time 2023-03-15 12:00:00",
          "\nudp sync:     on, to 127.0.0.1:16000, once per minute; 2 frames sent, 1 failed",
          "\nsettings:     /opt/tidewell/Tidewell.ini", "\nprogram:      Tidewell "})
        EXPECT_NE(text.find(item), std::string::npos) << item << "\n" << text;
    EXPECT_TRUE(statusJson(r).starts_with("{\"health\": \"degraded\", \"problems\": [\"no valid"));
}

}  // namespace
}  // namespace tidewell
