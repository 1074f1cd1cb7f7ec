#pragma once
// How this platform joins folders and names executables; one definition per platform.
#include <string>
#include <string_view>

namespace tidewell::paths {

// The folder separator: "\\" on Windows, "/" elsewhere.
extern const std::string_view separator;
// What the auto-run entry appends to the executable's name: ".Exe" on Windows, nothing elsewhere.
extern const std::string_view executableSuffix;

// The running executable's full path; "tidewell" when the system does not tell.
std::string executablePath();

// The per-user configuration folder for this program ("$XDG_CONFIG_HOME/tidewell",
// "%APPDATA%\\Tidewell"); empty when the environment gives none.
std::string userConfigFolder();

// The per-user folder for what the program keeps between runs ("$XDG_STATE_HOME/tidewell",
// "~/.local/state/tidewell", "%LOCALAPPDATA%\\Tidewell"); empty when the environment gives none.
std::string userStateFolder();

// Joins a folder and a name with exactly one separator between them.
std::string join(std::string_view folder, std::string_view name);

// The folder of a file's full path, as the platform writes it: no trailing separator, except
// for a root ("/", "C:\\").
std::string folderOf(std::string_view path);
// The file name without its extension.
std::string stemOf(std::string_view path);

}  // namespace tidewell::paths
