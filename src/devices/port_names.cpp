#include "devices/port_names.h"

#include "platform/ascii.h"
#include "platform/error.h"

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

std::string openFailureReason(const Error& e) {
    if (std::string known = knownOpenFailure(e.number()); !known.empty()) return known;
    // "Opening COM3 (/dev/ttyS2): Input/output error" -> "input/output error"
    std::string words = e.description();
    if (const auto colon = words.rfind(": "); colon != std::string::npos) words.erase(0, colon + 2);
    if (!words.empty()) words[0] = ascii::toLower(words[0]);
    return words;
}

}  // namespace tidewell
