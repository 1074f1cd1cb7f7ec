#include <gtest/gtest.h>

#include "app/log_level.h"
#include "app/report_flow.h"

namespace tidewell {
namespace {

using Strings = std::vector<std::string>;

// "A" fails every second from 0 to 150, "B" at 10 and 20; the limiter is asked every second.
TEST(RepeatLimiter, AnIdenticalLineAtMostOnceAMinuteWithItsCount) {
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
}

TEST(LineQueue, DropsWholeLinesWhenFullAndTellsTheCountOnceDrained) {
    LineQueue queue(20);
    for (const char* line : {"aaaa", "bbbbbbbbbb", "cccc", "dd", "e"}) queue.push(line);
    EXPECT_EQ(queue.pending(), "aaaa\nbbbbbbbbbb\ndd\n");
    queue.consume(7);
    EXPECT_EQ(queue.pending(), "bbbbbbbb\ndd\n") << "a part written leaves the rest first";
    queue.consume(12);
    EXPECT_EQ(queue.pending(), "report: 2 lines dropped while output was blocked\n");
    queue.consume(queue.pending().size());
    EXPECT_TRUE(queue.empty());
}

// For the journal: refusals and failures stand out, also when repeated; the rest is info.
TEST(LineQueue, WithPrioritiesEachLineStartsWithItsOwn) {
    LineQueue queue(512, true);
    for (const char* line : {"clock: refused: Operation not permitted",
                             "frame udp not sent: 126 x (repeated 59 times in the last minute)",
                             "gps port: COM1 closed", "gps: no valid time since 9:06:03",
                             "settings: [Log] LEVEL \"quiet\" is not events or seconds; read as "
                             "seconds",
                             "gps: valid time again", "clock: set time 09:07:00.152 (was +0.002 s)",
                             "gps port: COM1 /dev/ttyUSB0 closed, sets time only"})
        queue.push(line);
    queue.push(std::string(200, '.'));
    Strings prefixes;
    for (std::size_t at = 0; at < queue.pending().size(); at = queue.pending().find('\n', at) + 1)
        prefixes.emplace_back(queue.pending().substr(at, 3));
    EXPECT_EQ(prefixes, (Strings{"<3>", "<3>", "<4>", "<4>", "<4>", "<6>", "<6>", "<6>"}));
    queue.consume(queue.pending().size());
    EXPECT_EQ(queue.pending(), "<4>report: 1 line dropped while output was blocked\n");
    EXPECT_EQ(parseLogLevel("EVENTS"), LogLevel::Events);
}

}  // namespace
}  // namespace tidewell
