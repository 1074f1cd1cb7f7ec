#pragma once
// Auto-run at log-on on Linux desktops: the current user's Run key is the XDG autostart folder,
// and each value N of it is the desktop entry N.desktop there, starting this program.
#include <set>
#include <string>
#include <vector>

#include "platform/autorun_store.h"

namespace tidewell {

class XdgAutoRunStore final : public AutoRunStore {
public:
    // `command` is what every entry starts. The value's text is not used for it: it is the
    // Windows-style path (file name without its extension), which need not name a file here.
    // `folder` is the autostart folder; by default $XDG_CONFIG_HOME/autostart or
    // $HOME/.config/autostart.
    explicit XdgAutoRunStore(std::vector<std::string> command,
                             std::string folder = defaultFolder());

    static std::string defaultFolder();

    // The running executable's absolute path, then "--settings" and the settings file's
    // absolute path when one was given on the command line.
    static std::vector<std::string> launchCommand(const std::string& settingsFile,
                                                  std::string executable = runningExecutable());
    static std::string runningExecutable();

    // Only HKEY_CURRENT_USER with the Run key opens (ERROR_FILE_NOT_FOUND_ otherwise), even when
    // the folder does not exist yet: writing a value creates it.
    long RegOpenKeyEx(std::uint32_t root, std::string_view subKey, std::uint32_t access,
                      Key& key) override;
    // REG_SZ only (87, invalid parameter, for other types and for names that cannot be file
    // names); ERROR_FILE_NOT_FOUND_ when there is no command, ERROR_ACCESS_DENIED_ when the
    // entry cannot be written.
    long RegSetValueEx(Key key, std::string_view name, std::uint32_t type,
                       std::span<const std::uint8_t> data) override;
    long RegDeleteValue(Key key, std::string_view name) override;
    long RegCloseKey(Key key) override;

private:
    std::string entryPath(std::string_view name) const;

    std::vector<std::string> command_;
    std::string folder_;
    std::set<Key> open_;
    Key next_ = 1;
};

}  // namespace tidewell
