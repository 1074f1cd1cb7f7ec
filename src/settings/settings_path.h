#pragma once
// Where the settings file and the clock history live.
#include <string>

namespace tidewell {

inline constexpr const char* kSettingsFileName = "Tidewell.ini";
inline constexpr const char* kHistoryFileName = "clock-history.csv";

// The settings file beside the executable when that folder can be written (writes replace the
// file through a temporary file beside it, so a writable file alone is not enough), otherwise
// Tidewell.ini in the per-user configuration folder (created when missing; beside the
// executable again when there is none or it cannot be made). An explicit path (--settings) is
// used as it is.
std::string settingsFilePath(const std::string& appFolder, const std::string& explicitPath = {});

// The clock history: beside a settings file that was named (--settings, the service's
// /var/lib/tidewell/Tidewell.ini, the demo's temporary one), so each such run keeps its own;
// otherwise in the per-user state folder, or beside the settings file when there is none.
std::string historyFilePath(const std::string& settingsFile, bool settingsNamed);

}  // namespace tidewell
