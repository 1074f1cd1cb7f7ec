#pragma once
// How this platform joins folders and names executables; one definition per platform.
#include <string>
#include <string_view>

namespace tidewell::paths {

// The folder separator: "\\" on Windows, "/" elsewhere.
extern const std::string_view separator;
// What the auto-run entry appends to the executable's name: ".Exe" on Windows, nothing elsewhere.
extern const std::string_view executableSuffix;

// The per-user configuration folder for this program ("$XDG_CONFIG_HOME/tidewell",
// "%APPDATA%\\Tidewell"); empty when the environment gives none.
std::string userConfigFolder();

// Joins a folder and a name with exactly one separator between them.
std::string join(std::string_view folder, std::string_view name);

}  // namespace tidewell::paths
