#pragma once
// The tray icon as the window model fills it at start-up and uses again to remove it. Each
// platform's shell turns it into its own record (NOTIFYICONDATAA on Windows).
#include <cstdint>
#include <string>

namespace tidewell {

struct TrayIconRecord {
    std::string tip;
    std::uint32_t flags = 0;
    // Mouse events on the icon reach the window as this message, the event's code in X.
    std::uint32_t callbackMessage = 0;
};

// The Windows values, under names of their own: windows.h takes the real names as macros.
namespace notify {
inline constexpr std::uint32_t kFlagMessage = 1;    // NIF_MESSAGE
inline constexpr std::uint32_t kFlagIcon = 2;       // NIF_ICON
inline constexpr std::uint32_t kFlagTip = 4;        // NIF_TIP
inline constexpr std::uint32_t kMouseMove = 0x200;  // WM_MOUSEMOVE
}  // namespace notify

}  // namespace tidewell
