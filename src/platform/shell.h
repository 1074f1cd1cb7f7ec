#pragma once
// What the window model needs of the desktop besides its own controls: the window's extended
// style, the tray icon, modal message boxes, where the executable lives, and ending the run.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/notify_icon.h"

namespace tidewell {

// Message box styles, as the platform numbers them.
enum class MsgBoxStyle : std::uint32_t {
    OkCritical = 16,     // stop icon, one OK button
    OkExclamation = 48,  // warning icon, one OK button
};

namespace window_style {
inline constexpr int GWL_EXSTYLE = -20;
inline constexpr std::int32_t WS_EX_APPWINDOW = 0x40000;
}  // namespace window_style

class Shell {
public:
    virtual ~Shell() = default;

    virtual std::int32_t GetWindowLong(int index) = 0;
    virtual std::int32_t SetWindowLong(int index, std::int32_t value) = 0;
    virtual bool Shell_NotifyIcon(std::uint32_t message, const NotifyIconData& record) = 0;

    // The main window's and its icon's handles, as the tray record carries them.
    virtual std::uint32_t windowHandle() const = 0;
    virtual std::uint32_t iconHandle() const = 0;

    // Shows a modal message box and returns when the user has closed it.
    virtual void MsgBox(std::string_view text, std::string_view title, MsgBoxStyle style) = 0;

    // The folder holding the running executable, as the platform reports it (no trailing
    // separator unless it is a root), and the executable's file name without its extension.
    virtual std::string AppPath() const = 0;
    virtual std::string EXEName() const = 0;

    // Ends the program at once: no timer tick or control event runs afterwards.
    virtual void endProgram() = 0;
};

}  // namespace tidewell
