#pragma once
// How much the report says, and how bad each of its lines is: a service logs events alone,
// and under systemd each line carries its syslog priority so the journal can filter on it.
#include <optional>
#include <string>
#include <string_view>

namespace tidewell {

// Events: start, ports, fix, clock updates, failures. Seconds: also each second's GPS time
// and frames.
enum class LogLevel { Events, Seconds };

// "events" or "seconds", in any case; nothing for another text.
std::optional<LogLevel> parseLogLevel(std::string_view text);

// Syslog's numbers, as the journal reads them from a "<N>" at the start of a line.
enum class Priority { Error = 3, Warning = 4, Info = 6 };

// A refusal or failure is an error or a warning, by the kind of line; anything else is info.
Priority linePriority(std::string_view line);

// "<N>" for the line's priority.
std::string priorityPrefix(std::string_view line);

}  // namespace tidewell
