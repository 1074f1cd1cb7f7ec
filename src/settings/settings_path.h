#pragma once
// Where the settings file lives.
#include <string>

namespace tidewell {

inline constexpr const char* kSettingsFileName = "Tidewell.ini";

// The settings file beside the executable when that folder can be written (or the file there
// already can be), otherwise Tidewell.ini in the per-user configuration folder (created when
// missing). An explicit path (--settings) is used as it is.
std::string settingsFilePath(const std::string& appFolder, const std::string& explicitPath = {});

}  // namespace tidewell
