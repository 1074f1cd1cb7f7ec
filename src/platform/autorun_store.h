#pragma once
// The registry functions that auto-run at log-on needs, as the platform offers them
// (RegOpenKeyExA, RegSetValueExA, RegDeleteValueA, RegCloseKey). Results are the platform's
// status codes: 0 is success. Linux maps the current user's Run key onto XDG autostart entries.
#include <cstdint>
#include <span>
#include <string_view>

namespace tidewell {

namespace registry {
inline constexpr std::uint32_t HKEY_CURRENT_USER_ = 0x80000001u;
inline constexpr std::uint32_t KEY_WRITE_ = 0x20006u;
inline constexpr std::uint32_t REG_SZ_ = 1;
inline constexpr std::uint32_t REG_BINARY_ = 3;
inline constexpr std::uint32_t REG_DWORD_ = 4;
inline constexpr long ERROR_FILE_NOT_FOUND_ = 2;
inline constexpr long ERROR_ACCESS_DENIED_ = 5;
inline constexpr std::string_view RunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
}  // namespace registry

class AutoRunStore {
public:
    using Key = std::uintptr_t;
    virtual ~AutoRunStore() = default;

    // Opens an existing key (never creates it); on success `key` is valid until closed.
    virtual long RegOpenKeyEx(std::uint32_t root, std::string_view subKey, std::uint32_t access,
                              Key& key) = 0;
    // Writes one value; for REG_SZ the data holds the text and its terminating NUL.
    virtual long RegSetValueEx(Key key, std::string_view name, std::uint32_t type,
                               std::span<const std::uint8_t> data) = 0;
    virtual long RegDeleteValue(Key key, std::string_view name) = 0;
    virtual long RegCloseKey(Key key) = 0;
};

}  // namespace tidewell
