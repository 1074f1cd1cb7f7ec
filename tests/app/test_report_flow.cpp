#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tidewell
