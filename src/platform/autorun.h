#pragma once
// Starting the program at log-on: named values in the current user's list of programs to
// start, at every log-on or at the next one only. Windows keeps the lists as its Run and
// RunOnce registry keys; Linux desktops as XDG autostart entries.
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tidewell {

enum class AutoRunList { EveryLogOn, NextLogOnOnly };

// A value as it is stored: a 32-bit number, a text, or bytes.
using AutoRunValue = std::variant<std::int32_t, std::string, std::vector<std::uint8_t>>;

class AutoRun {
public:
    virtual ~AutoRun() = default;

    // Writes or replaces the named value; false when the list cannot take it.
    virtual bool write(AutoRunList list, std::string_view name, const AutoRunValue& value) = 0;
    // Removes the named value; false when there was none or it cannot be removed.
    virtual bool remove(AutoRunList list, std::string_view name) = 0;
};

}  // namespace tidewell
