#include <cstdlib>

#include "platform/paths.h"

namespace tidewell::paths {

const std::string_view separator = "/";
const std::string_view executableSuffix = "";

std::string userConfigFolder() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        return join(xdg, "tidewell");
    if (const char* home = std::getenv("HOME"); home && *home)
        return join(join(home, ".config"), "tidewell");
    return {};
}

}  // namespace tidewell::paths
