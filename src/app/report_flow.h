#pragma once
// A line-per-event report that runs for years must stay readable and must never hold up the
// program: identical failures are told at most once a minute, and lines wait for a slow
// reader in a bounded queue instead of blocking.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tidewell {

// Each distinct line is printed at most once per window; a printed line tells how often it
// came unprinted since its last print.
class RepeatLimiter {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::minutes kWindow{1};

    // What to print now: `line` (with its count of unprinted repeats), or nothing inside its
    // window. Windows that have ended are settled first, as expire() does.
    std::vector<std::string> admit(const std::string& line, Clock::time_point now);
    // Counts of repeats whose window has ended, as lines to print; forgets quiet lines.
    std::vector<std::string> expire(Clock::time_point now);
    // When expire() should next be called; nothing while no line is remembered.
    std::optional<Clock::time_point> nextExpiry() const;

private:
    struct Seen {
        Clock::time_point windowEnd;
        std::uint64_t repeats = 0;
    };
    std::map<std::string, Seen> seen_;
};

// Bytes waiting for a reader, at most `limit` of them; a line that does not fit is dropped
// whole, and the number dropped is queued as a line of its own once the queue has drained.
// With `priorities`, each line starts with its syslog priority, for the journal.
class LineQueue {
public:
    explicit LineQueue(std::size_t limit, bool priorities = false)
        : limit_(limit), priorities_(priorities) {}

    void push(std::string_view line);  // a newline is added
    std::string_view pending() const { return buffer_; }
    void consume(std::size_t bytes);  // `bytes` of pending() were written
    void clear() { buffer_.clear(); }
    bool empty() const { return buffer_.empty(); }

private:
    void append(std::string_view line);

    std::size_t limit_;
    bool priorities_;
    std::string buffer_;
    std::uint64_t dropped_ = 0;
};

}  // namespace tidewell
