#include "settings/gps_module.h"

#include <algorithm>
#include <type_traits>

#include "platform/ascii.h"
#include "platform/error.h"
#include "platform/paths.h"

namespace tidewell {

namespace {

constexpr std::size_t kIniBufferSize = 750;

std::string_view withoutLeadingBlanks(std::string_view s) {
    return s.substr(std::min(s.find_first_not_of(' '), s.size()));
}

}  // namespace

std::string GPSModule::GetIniSetting(std::string_view section, std::string_view key,
                                     const std::string& file) {
    return profile_.getString(section, ascii::lowerCased(key), "", kIniBufferSize, file);
}

WriteOutcome GPSModule::SaveIniSetting(std::string_view section, std::string_view key,
                                       std::string_view value, const std::string& file) {
    return profile_.writeString(section, ascii::upperCased(key), value, file);
}

void GPSModule::ConfigureAutoRun(std::int16_t mode, std::string_view name, std::string_view path) {
    std::string valueName(withoutLeadingBlanks(name));
    if (valueName.empty()) valueName = kAppTitle;
    std::string data(withoutLeadingBlanks(path));
    if (data.empty()) data = autoRunPath();
    if (mode == 0)
        RegistryDeleteValue(AutoRunList::EveryLogOn, valueName);
    else
        RegistrySetValue(mode == 1 ? AutoRunList::NextLogOnOnly : AutoRunList::EveryLogOn,
                         valueName, data);
}

bool GPSModule::RegistrySetValue(AutoRunList list, std::string_view name,
                                 const RegistryValue& value) {
    if (std::holds_alternative<std::monostate>(value))
        throw Error(errors::UnsupportedValueType, "Unsupported value type");
    if (const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&value); bytes && bytes->empty())
        throw Error(errors::SubscriptOutOfRange, "Subscript out of range");
    const auto* command = std::get_if<std::string>(&value);
    return command && autoRun_.launchAtLogOn(list, name, *command);
}

bool GPSModule::RegistryDeleteValue(AutoRunList list, std::string_view name) {
    return autoRun_.remove(list, name);
}

std::string GPSModule::autoRunPath() const {
    return paths::join(paths::folderOf(executable_), paths::stemOf(executable_)) +
           std::string(paths::executableSuffix);
}

}  // namespace tidewell
