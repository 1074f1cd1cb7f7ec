#pragma once
// The settings-file and registry procedures of the program's one code module.
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/autorun.h"
#include "platform/profile_store.h"
#include "platform/shell.h"

namespace tidewell {

// A value as the caller tags it; std::monostate stands for any other type.
using RegistryValue = std::variant<std::monostate, std::int16_t, std::int32_t, std::string,
                                   std::vector<std::uint8_t>>;

inline constexpr std::string_view kAppTitle = "Tidewell";

class GPSModule {
public:
    GPSModule(ProfileStore& profile, AutoRun& autoRun, const Shell& shell)
        : profile_(profile), autoRun_(autoRun), shell_(shell) {}

    // Reads the key (lower-cased) with a 750-character buffer; empty text when missing.
    std::string GetIniSetting(std::string_view section, std::string_view key,
                              const std::string& file);
    // Writes the key (upper-cased); says why when the write was lost.
    WriteOutcome SaveIniSetting(std::string_view section, std::string_view key, std::string_view value,
                        const std::string& file);

    // Mode 0 removes the every-log-on value, mode 1 writes the next-log-on-only value, any
    // other mode the every-log-on value. Empty (or blank) name and path take the application
    // title and this executable.
    void ConfigureAutoRun(std::int16_t mode, std::string_view name, std::string_view path);
    // 16- and 32-bit numbers are stored as 32-bit, texts and bytes as they are; an empty byte
    // array throws Error(SubscriptOutOfRange), any other type Error(UnsupportedValueType).
    // True when the value was written.
    bool RegistrySetValue(AutoRunList list, std::string_view name, const RegistryValue& value);
    bool RegistryDeleteValue(AutoRunList list, std::string_view name);

    // The executable's path for the auto-run entry: folder, one separator, file name without
    // extension, and the platform's executable suffix (".Exe" on Windows).
    std::string autoRunPath() const;

private:
    ProfileStore& profile_;
    AutoRun& autoRun_;
    const Shell& shell_;
};

}  // namespace tidewell
