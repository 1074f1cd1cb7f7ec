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

namespace notify {
inline constexpr std::uint32_t NIF_MESSAGE = 1;
inline constexpr std::uint32_t NIF_ICON = 2;
inline constexpr std::uint32_t NIF_TIP = 4;
inline constexpr std::uint32_t WM_MOUSEMOVE = 0x200;
}  // namespace notify

}  // namespace tidewell
