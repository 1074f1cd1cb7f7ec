#include "settings/autorun_xdg_linux.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/paths.h"
#include "settings/file_ops.h"

namespace tidewell {

namespace {

bool usableName(std::string_view name) {
    return !name.empty() && name.find_first_of(std::string_view("/\0", 2)) == name.npos;
}

// The key-file escapes every string value needs.
std::string escapeString(std::string_view s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    if (!out.empty() && out.front() == ' ') out.replace(0, 1, "\\s");
    return out;
}

// One Exec argument: quoted when it holds a reserved character, '%' doubled so that it is not
// taken for a field code.
std::string execArgument(std::string_view arg) {
    constexpr std::string_view reserved(" \t\n\"'\\><~|&;$*?#()`");
    bool quote = arg.empty() || arg.find_first_of(reserved) != arg.npos;
    std::string out = quote ? "\"" : "";
    for (char c : arg) {
        if (c == '%')
            out += '%';
        else if (quote && (c == '"' || c == '`' || c == '$' || c == '\\'))
            out += '\\';
        out += c;
    }
    if (quote) out += '"';
    return out;
}

std::string desktopEntry(std::string_view name, const std::vector<std::string>& command) {
    std::string exec;
    for (const auto& arg : command) exec += (exec.empty() ? "" : " ") + execArgument(arg);
    return "[Desktop Entry]\nType=Application\nName=" + escapeString(name) +
           "\nExec=" + escapeString(exec) + "\nX-GNOME-Autostart-enabled=true\n";
}

}  // namespace

XdgAutoRunStore::XdgAutoRunStore(std::vector<std::string> command, std::string folder)
    : command_(std::move(command)), folder_(std::move(folder)) {}

std::string XdgAutoRunStore::defaultFolder() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        return paths::join(xdg, "autostart");
    if (const char* home = std::getenv("HOME"); home && *home)
        return paths::join(paths::join(home, ".config"), "autostart");
    return {};
}

std::vector<std::string> XdgAutoRunStore::launchCommand(const std::string& settingsFile,
                                                        std::string executable) {
    if (executable.empty()) return {};
    // A relative settings path means the folder the program was started from, which a log-on
    // start does not share.
    std::error_code ec;
    std::vector<std::string> command{std::filesystem::absolute(executable, ec).string()};
    if (!settingsFile.empty())
        command.insert(command.end(),
                       {"--settings", std::filesystem::absolute(settingsFile, ec).string()});
    return command;
}

std::string XdgAutoRunStore::runningExecutable() {
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/exe", ec).string();
}

std::string XdgAutoRunStore::entryPath(std::string_view name) const {
    return paths::join(folder_, std::string(name) + ".desktop");
}

bool XdgAutoRunStore::launchAtLogOn(AutoRunList list, std::string_view name, const std::string&) {
    if (list != AutoRunList::EveryLogOn || !usableName(name) || folder_.empty() || command_.empty())
        return false;
    return files::makeFolders(folder_) &&
           bool(files::replaceAtomically(entryPath(name), desktopEntry(name, command_)));
}

bool XdgAutoRunStore::remove(AutoRunList list, std::string_view name) {
    if (list != AutoRunList::EveryLogOn || !usableName(name) || folder_.empty()) return false;
    return std::remove(entryPath(name).c_str()) == 0;
}

}  // namespace tidewell
