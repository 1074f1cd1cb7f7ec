#pragma once
// The settings-file and registry procedures of the program's one code module.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/autorun.h"
#include "platform/profile_store.h"

namespace tidewell {

// A value as the caller tags it; std::monostate stands for any other type.
using RegistryValue = std::variant<std::monostate, std::int16_t, std::int32_t, std::string,
                                   std::vector<std::uint8_t>>;

inline constexpr std::string_view kAppTitle = "Tidewell";

class GPSModule {
public:
    // `executable` is the running program's full path.
    GPSModule(ProfileStore& profile, AutoRun& autoRun, std::string executable)
        : profile_(profile), autoRun_(autoRun), executable_(std::move(executable)) {}

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
    // A text is the command the list starts. An empty byte array throws
    // Error(SubscriptOutOfRange), a value of no type Error(UnsupportedValueType); a number or
    // bytes start nothing, and are not written. True when the value was written.
    bool RegistrySetValue(AutoRunList list, std::string_view name, const RegistryValue& value);
    bool RegistryDeleteValue(AutoRunList list, std::string_view name);

    // The executable's path for the auto-run entry: folder, one separator, file name without
    // extension, and the platform's executable suffix (".Exe" on Windows).
    std::string autoRunPath() const;

private:
    ProfileStore& profile_;
    AutoRun& autoRun_;
    std::string executable_;
};

}  // namespace tidewell
