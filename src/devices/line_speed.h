#pragma once
// The GPS line's speed: one fixed speed, or found by trying the speeds receivers ship with.
#include <array>
#include <chrono>
#include <optional>
#include <string_view>

namespace tidewell {

// The setting's text: empty for 4800, a speed in baud ("9600"), or "auto" (letter case
// ignored). Empty result: not a speed the receiver supports.
struct LineSpeedSetting {
    int baud = 4800;
    bool automatic = false;
};
std::optional<LineSpeedSetting> parseLineSpeed(std::string_view text);
bool supportedLineSpeed(int baud);

// Whether `line` ("$...*hh", no CR/LF) carries its checksum and it matches.
bool checksumMatches(std::string_view line);

// Stays on the first speed that brings kSentencesNeeded checksummed sentences within kWindow
// of its first byte; a silent line therefore never moves it on. After the last speed it starts
// again, for a receiver that was switched on late. A found speed that then brings input but no
// checksummed sentence for kLostAfter is searched for again: a receiver reset after a power
// cut may come back at its factory speed.
class SpeedHunt {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::array<int, 5> kOrder{4800, 9600, 38400, 115200, 19200};
    static constexpr Clock::duration kWindow = std::chrono::seconds(3);
    static constexpr int kSentencesNeeded = 2;
    static constexpr Clock::duration kLostAfter = std::chrono::seconds(10);

    enum class Step { Stay, Found, Next };

    int speed() const { return kOrder[index_]; }
    bool found() const { return found_; }
    // Input came at `now` with `goodSentences` checksummed sentences in it. Found when the
    // speed is settled; Next when the caller must switch the line to speed().
    Step input(Clock::time_point now, int goodSentences);

private:
    std::size_t index_ = 0;
    std::optional<Clock::time_point> windowStart_;  // searching: since; found: last good
    int good_ = 0;
    bool found_ = false;
};

}  // namespace tidewell
