#include "settings/settings_path.h"

#include "platform/paths.h"
#include "settings/file_ops.h"

namespace tidewell {

std::string settingsFilePath(const std::string& appFolder, const std::string& explicitPath) {
    if (!explicitPath.empty()) return explicitPath;
    std::string besideProgram = paths::join(appFolder, kSettingsFileName);
    // Every write goes through a temporary file in the same folder, so a writable file in a
    // folder we cannot write to would lose every change.
    if (files::folderWritable(appFolder)) return besideProgram;
    std::string userFolder = paths::userConfigFolder();
    if (userFolder.empty() || !files::makeFolders(userFolder)) return besideProgram;
    return paths::join(userFolder, kSettingsFileName);
}

std::string historyFilePath(const std::string& settingsFile, bool settingsNamed) {
    const std::string stateFolder = settingsNamed ? std::string() : paths::userStateFolder();
    return paths::join(stateFolder.empty() ? paths::folderOf(settingsFile) : stateFolder,
                       kHistoryFileName);
}

}  // namespace tidewell
