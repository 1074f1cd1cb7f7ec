#pragma once
// Auto-run at log-on on Linux desktops: the every-log-on list is the XDG autostart folder, and
// each value N of it is the desktop entry N.desktop there, starting this program.
#include <string>
#include <vector>

#include "platform/autorun.h"

namespace tidewell {

class XdgAutoRunStore final : public AutoRun {
public:
    // `command` is what every entry starts, with the settings file it was given. The command
    // asked for is not used: it is the Windows-style path (file name without its extension),
    // which need not name a file here.
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

    // Every log-on only (autostart has no run-once), and names that can be file names; the
    // folder is made on the first write.
    bool launchAtLogOn(AutoRunList list, std::string_view name, const std::string&) override;
    bool remove(AutoRunList list, std::string_view name) override;

private:
    std::string entryPath(std::string_view name) const;

    std::vector<std::string> command_;
    std::string folder_;
};

}  // namespace tidewell
