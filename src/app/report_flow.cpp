#include "app/report_flow.h"

#include <algorithm>
#include <iterator>

#include "app/log_level.h"

namespace tidewell {

std::vector<std::string> RepeatLimiter::admit(const std::string& line, Clock::time_point now) {
    std::vector<std::string> out = expire(now);
    auto [it, isNew] = seen_.try_emplace(line, Seen{now + kWindow, 0});
    if (isNew) {
        out.push_back(line);
    } else {
        ++it->second.repeats;
    }
    return out;
}

std::vector<std::string> RepeatLimiter::expire(Clock::time_point now) {
    std::vector<std::string> out;
    for (auto it = seen_.begin(); it != seen_.end();) {
        Seen& seen = it->second;
        if (now < seen.windowEnd) {
            ++it;
        } else if (seen.repeats == 0) {
            it = seen_.erase(it);
        } else {
            // The count is printed as the line itself, so a line that keeps failing is seen
            // once a minute, never twice.
            out.push_back(it->first + " (repeated " +
                          (seen.repeats == 1 ? "once" : std::to_string(seen.repeats) + " times") +
                          " in the last minute)");
            seen = Seen{now + kWindow, 0};
            ++it;
        }
    }
    return out;
}

std::optional<RepeatLimiter::Clock::time_point> RepeatLimiter::nextExpiry() const {
    std::optional<Clock::time_point> next;
    for (const auto& [line, seen] : seen_)
        if (!next || seen.windowEnd < *next) next = seen.windowEnd;
    return next;
}

void LineQueue::push(std::string_view line) {
    const std::size_t prefix = priorities_ ? std::size("<N>") - 1 : 0;
    if (buffer_.size() + prefix + line.size() + 1 > limit_) {
        ++dropped_;
        return;
    }
    append(line);
}

void LineQueue::append(std::string_view line) {
    if (priorities_) buffer_ += priorityPrefix(line);
    buffer_.append(line);
    buffer_ += '\n';
}

void LineQueue::consume(std::size_t bytes) {
    buffer_.erase(0, std::min(bytes, buffer_.size()));
    if (buffer_.empty() && dropped_ > 0) {
        // Past the limit if need be: the queue is empty now.
        append("report: " + std::to_string(dropped_) + (dropped_ == 1 ? " line" : " lines") +
               " dropped while output was blocked");
        dropped_ = 0;
    }
}

}  // namespace tidewell
