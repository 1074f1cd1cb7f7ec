#include "devices/port_names.h"

namespace tidewell {

std::string devicePathFor(int portNumber, const std::map<int, std::string>& overrides) {
    if (auto it = overrides.find(portNumber); it != overrides.end() && !it->second.empty())
        return it->second;
    return defaultDevicePath(portNumber);
}

std::string portLabel(int portNumber, const std::string& path) {
    std::string label = "COM" + std::to_string(portNumber);
    if (!path.empty()) label += " (" + path + ")";
    return label;
}

}  // namespace tidewell
