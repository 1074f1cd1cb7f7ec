#pragma once
// Where the settings file lives.
#include <string>

namespace tidewell {

inline constexpr const char* kSettingsFileName = "Tidewell.ini";

// The settings file beside the executable when that folder can be written (writes replace the
// file through a temporary file beside it, so a writable file alone is not enough), otherwise
// Tidewell.ini in the per-user configuration folder (created when missing; beside the
// executable again when there is none or it cannot be made). An explicit path (--settings) is
// used as it is.
std::string settingsFilePath(const std::string& appFolder, const std::string& explicitPath = {});

}  // namespace tidewell
