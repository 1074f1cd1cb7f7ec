#pragma once
// The settings-file and registry procedures of the program's one code module.
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/autorun_store.h"
#include "platform/profile_store.h"
#include "platform/shell.h"

namespace tidewell {

// A registry value as the caller tags it; std::monostate stands for any other type.
using RegistryValue = std::variant<std::monostate, std::int16_t, std::int32_t, std::string,
                                   std::vector<std::uint8_t>>;

inline constexpr std::string_view kAppTitle = "Tidewell";

class GPSModule {
public:
    GPSModule(ProfileStore& profile, AutoRunStore& registry, const Shell& shell)
        : profile_(profile), registry_(registry), shell_(shell) {}

    // Reads the key (lower-cased) with a 750-character buffer; empty text when missing.
    std::string GetIniSetting(std::string_view section, std::string_view key,
                              const std::string& file);
    // Writes the key (upper-cased); the result is not examined.
    void SaveIniSetting(std::string_view section, std::string_view key, std::string_view value,
                        const std::string& file);

    // Mode 0 removes the Run value, mode 1 writes the run-once value, any other mode the Run
    // value. Empty (or blank) name and path take the application title and this executable.
    void ConfigureAutoRun(std::int16_t mode, std::string_view name, std::string_view path);
    bool RegistrySetValue(std::uint32_t root, std::string_view keyPath, std::string_view name,
                          const RegistryValue& value);
    bool RegistryDeleteValue(std::uint32_t root, std::string_view keyPath, std::string_view name);

    // The executable's path for the auto-run entry: folder, one separator, file name without
    // extension, and the platform's executable suffix (".Exe" on Windows).
    std::string autoRunPath() const;

private:
    ProfileStore& profile_;
    AutoRunStore& registry_;
    const Shell& shell_;
};

}  // namespace tidewell
