#include "app/extended_settings.h"

#include <filesystem>
#include <map>

#include "devices/line_speed.h"
#include "devices/port_names.h"
#include "platform/ascii.h"
#include "platform/calendar.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "settings/conversions.h"

namespace tidewell {

namespace {

constexpr std::size_t kPortEntrySize = 750;

// Read as the on/off keys are, but only 0 and 1 are used; a missing key keeps `on`.
void readSwitch(const ExtendedSettings::Setting& setting, const ExtendedSettings::ReadAs& readAs,
                const char* key, bool& on) {
    const std::string text = setting("GPS", key);
    if (text.empty()) return;
    int value = -1;
    try {
        value = numberPrefix(text);
    } catch (const Error&) {
    }
    if (value != 0 && value != 1) {
        readAs("GPS", key, text, std::string("is not 0 or 1; left at ") + (on ? "1" : "0"));
        return;
    }
    on = value == 1;
    if (!isStrictNumber(text)) readAs("GPS", key, text, std::string("is read as ") + (on ? "1" : "0"));
}

std::chrono::milliseconds readDelay(const ExtendedSettings::Setting& setting,
                                    const ExtendedSettings::ReadAs& readAs) {
    const std::string text = setting("GPS", "DELAYMS");
    if (text.empty()) return {};
    int ms = -1;
    try {
        ms = numberPrefix(text);
    } catch (const Error&) {
    }
    if (ms < 0 || ms > 999) {
        readAs("GPS", "DELAYMS", text, "is not 0 to 999; read as 0");
        return {};
    }
    if (!isStrictNumber(text)) readAs("GPS", "DELAYMS", text, "is read as " + std::to_string(ms));
    return std::chrono::milliseconds(ms);
}

// "SOCK:" (in any case) and a full path that fits a socket address.
std::optional<std::string> readRefclock(const ExtendedSettings::Setting& setting,
                                        const ExtendedSettings::ReadAs& readAs) {
    constexpr std::string_view kDriver = "SOCK:";
    constexpr std::size_t kLongestPath = 107;  // sockaddr_un's sun_path, less its terminator
    const std::string text = setting("GPS", "REFCLOCK");
    if (text.empty()) return std::nullopt;
    const bool sock =
        ascii::equalsIgnoringCase(std::string_view(text).substr(0, kDriver.size()), kDriver);
    const std::string path = sock ? text.substr(kDriver.size()) : std::string();
    if (!path.starts_with('/') || path.size() > kLongestPath) {
        readAs("GPS", "REFCLOCK", text,
               "is not SOCK: and a socket's full path (at most 107 bytes); the clock is set as "
               "before");
        return std::nullopt;
    }
    return path;
}

}  // namespace

ExtendedSettings ExtendedSettings::read(const Setting& setting, const ReadAs& readAs,
                                        const std::string& settingsFolder) {
    ExtendedSettings out;
    readSwitch(setting, readAs, "SETCLOCK", out.setsClock);
    bool precise = false;
    readSwitch(setting, readAs, "PRECISE", precise);
    const auto delay = readDelay(setting, readAs);
    if (precise) out.preciseDelay = delay;
    out.receiverDelay = delay;
    out.refclock = readRefclock(setting, readAs);
    if (const std::string speed = setting("Ports", "BAUD"); !parseLineSpeed(speed))
        readAs("Ports", "BAUD", speed, "is not a line speed or auto; read as auto");
    if (const std::string level = setting("Log", "LEVEL"); !level.empty()) {
        if (const auto parsed = parseLogLevel(level))
            out.logLevel = *parsed;
        else
            readAs("Log", "LEVEL", level, "is not events or seconds; read as seconds");
    }
    if (std::string metrics = setting("Status", "METRICS"); !metrics.empty()) {
        if (metrics.ends_with('/') || metrics.ends_with('\\'))
            readAs("Status", "METRICS", metrics, "names a folder, not a file; no metrics written");
        else if (std::filesystem::path(metrics).is_absolute() || settingsFolder.empty())
            out.metricsFile = metrics;
        else
            out.metricsFile = paths::join(settingsFolder, metrics);
    }
    return out;
}

std::string PortMap::operator()(int port) const {
    std::map<int, std::string> overrides;
    if (std::string path = profile_.getString("Ports", "COM" + std::to_string(port), "",
                                              kPortEntrySize, settingsFile_);
        !path.empty())
        overrides[port] = path;
    return devicePathFor(port, overrides);
}

std::string PortMap::lineSpeedText() const {
    return profile_.getString("Ports", "BAUD", "", kPortEntrySize, settingsFile_);
}

std::string PortMap::lineSpeed() const {
    std::string text = lineSpeedText();
    return parseLineSpeed(text) ? text : "auto";
}

DateWindow receiverDates() {
    return gpsDateWindow(calendar::parseCompilerDate(__DATE__).value_or(CivilDate{2026, 1, 1}));
}

}  // namespace tidewell
