#include <cstdlib>
#include <filesystem>

#include "platform/paths.h"

namespace tidewell::paths {

const std::string_view separator = "/";
const std::string_view executableSuffix = "";

std::string executablePath() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string("tidewell") : exe.string();
}

std::string userConfigFolder() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        return join(xdg, "tidewell");
    if (const char* home = std::getenv("HOME"); home && *home)
        return join(join(home, ".config"), "tidewell");
    return {};
}

std::string userStateFolder() {
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg == '/')
        return join(xdg, "tidewell");
    if (const char* home = std::getenv("HOME"); home && *home)
        return join(join(join(home, ".local"), "state"), "tidewell");
    return {};
}

}  // namespace tidewell::paths
