#pragma once
// The tray icon record in its 488-byte NOTIFYICONDATAA layout (32-bit handles).
#include <array>
#include <cstdint>

namespace tidewell {

#pragma pack(push, 4)
struct NotifyIconData {
    std::uint32_t cbSize = 0;
    std::uint32_t hWnd = 0;
    std::uint32_t uID = 0;
    std::uint32_t uFlags = 0;
    std::uint32_t uCallbackMessage = 0;
    std::uint32_t hIcon = 0;
    std::array<char, 128> szTip{};
    std::uint32_t dwState = 0;
    std::uint32_t dwStateMask = 0;
    std::array<char, 256> szInfo{};
    std::uint32_t uTimeout = 0;
    std::array<char, 64> szInfoTitle{};
    std::uint32_t dwInfoFlags = 0;
};
#pragma pack(pop)
static_assert(sizeof(NotifyIconData) == 488, "NOTIFYICONDATAA is 488 bytes");

namespace notify {
inline constexpr std::uint32_t NIM_ADD = 0;
inline constexpr std::uint32_t NIM_DELETE = 2;
inline constexpr std::uint32_t NIF_MESSAGE = 1;
inline constexpr std::uint32_t NIF_ICON = 2;
inline constexpr std::uint32_t NIF_TIP = 4;
inline constexpr std::uint32_t WM_MOUSEMOVE = 0x200;
}  // namespace notify

}  // namespace tidewell
