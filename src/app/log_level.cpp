#include "app/log_level.h"

#include "platform/ascii.h"

namespace tidewell {

namespace {

// A line is of a kind when it starts, contains and ends with these (empty: anything).
struct Kind {
    std::string_view starts, contains, ends;
    Priority priority;
};

// Repeated failures keep their kind: the count is added at the end, never at the start.
constexpr Kind kKinds[] = {
    {"clock: refused", "", "", Priority::Error},
    {"", " cannot open: ", "", Priority::Error},
    {"frame ", " not sent: ", "", Priority::Error},
    {"message: ", "", "", Priority::Error},
    {"gps port: ", "", " closed", Priority::Warning},
    {"gps: no valid time", "", "", Priority::Warning},
    {"gps: nothing received", "", "", Priority::Warning},
    {"gps: sentence not used", "", "", Priority::Warning},
    {"gps: ", " arrived late (backlog)", "", Priority::Warning},
    {"settings: cannot save", "", "", Priority::Warning},
    {"settings: [", "", "", Priority::Warning},
    {"", " too; choose another", "", Priority::Warning},
    {"time service: ", "", "", Priority::Warning},
    {"report: ", "", "", Priority::Warning},
    {"service: cannot", "", "", Priority::Warning},
};

}  // namespace

std::optional<LogLevel> parseLogLevel(std::string_view text) {
    if (ascii::equalsIgnoringCase(text, "events")) return LogLevel::Events;
    if (ascii::equalsIgnoringCase(text, "seconds")) return LogLevel::Seconds;
    return std::nullopt;
}

Priority linePriority(std::string_view line) {
    for (const Kind& k : kKinds)
        if (line.starts_with(k.starts) && line.find(k.contains) != std::string_view::npos &&
            line.ends_with(k.ends))
            return k.priority;
    return Priority::Info;
}

std::string priorityPrefix(std::string_view line) {
    return "<" + std::to_string(int(linePriority(line))) + ">";
}

}  // namespace tidewell
