#pragma once
// Starting the program at log-on: named commands in the current user's list of programs to
// start, at every log-on or at the next one only. Windows keeps the lists as its Run and
// RunOnce registry keys; Linux desktops as XDG autostart entries.
#include <string>
#include <string_view>

namespace tidewell {

enum class AutoRunList { EveryLogOn, NextLogOnOnly };

class AutoRun {
public:
    virtual ~AutoRun() = default;

    // Starts `command` at log-on under `name`, replacing what that name started; false when
    // the list cannot take it.
    virtual bool launchAtLogOn(AutoRunList list, std::string_view name,
                               const std::string& command) = 0;
    // Removes the named entry; false when there was none or it cannot be removed.
    virtual bool remove(AutoRunList list, std::string_view name) = 0;
};

}  // namespace tidewell
