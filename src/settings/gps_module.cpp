#include "settings/gps_module.h"

#include <algorithm>
#include <span>
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

// Holds a key open and closes it on every way out, so a throw reaches the caller only after
// the key is closed.
class OpenKey {
public:
    OpenKey(AutoRunStore& store, std::uint32_t root, std::string_view path) : store_(store) {
        opened_ = store_.RegOpenKeyEx(root, path, registry::KEY_WRITE_, key_) == 0;
    }
    ~OpenKey() {
        if (opened_) store_.RegCloseKey(key_);
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;

    bool opened() const { return opened_; }
    AutoRunStore::Key key() const { return key_; }

private:
    AutoRunStore& store_;
    AutoRunStore::Key key_ = 0;
    bool opened_ = false;
};

}  // namespace

std::string GPSModule::GetIniSetting(std::string_view section, std::string_view key,
                                     const std::string& file) {
    return profile_.getString(section, ascii::lowerCased(key), "", kIniBufferSize, file);
}

void GPSModule::SaveIniSetting(std::string_view section, std::string_view key,
                               std::string_view value, const std::string& file) {
    profile_.writeString(section, ascii::upperCased(key), value, file);
}

void GPSModule::ConfigureAutoRun(std::int16_t mode, std::string_view name, std::string_view path) {
    std::string valueName(withoutLeadingBlanks(name));
    if (valueName.empty()) valueName = kAppTitle;
    std::string data(withoutLeadingBlanks(path));
    if (data.empty()) data = autoRunPath();
    const std::string runKey(registry::RunKey);
    if (mode == 0)
        RegistryDeleteValue(registry::HKEY_CURRENT_USER_, runKey, valueName);
    else if (mode == 1)
        RegistrySetValue(registry::HKEY_CURRENT_USER_, runKey + "Once", valueName, data);
    else
        RegistrySetValue(registry::HKEY_CURRENT_USER_, runKey, valueName, data);
}

bool GPSModule::RegistrySetValue(std::uint32_t root, std::string_view keyPath,
                                 std::string_view name, const RegistryValue& value) {
    OpenKey key(registry_, root, keyPath);
    if (!key.opened()) return false;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    std::visit(
        [&](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::int16_t> || std::is_same_v<T, std::int32_t>) {
                auto bits = static_cast<std::uint32_t>(static_cast<std::int32_t>(v));
                type = registry::REG_DWORD_;
                data = {std::uint8_t(bits), std::uint8_t(bits >> 8), std::uint8_t(bits >> 16),
                        std::uint8_t(bits >> 24)};
            } else if constexpr (std::is_same_v<T, std::string>) {
                type = registry::REG_SZ_;
                data.assign(v.begin(), v.end());
                data.push_back(0);
            } else if constexpr (std::is_same_v<T, std::vector<std::uint8_t>>) {
                if (v.empty()) throw Error(errors::SubscriptOutOfRange, "Subscript out of range");
                type = registry::REG_BINARY_;
                data = v;
            } else {
                throw Error(errors::UnsupportedValueType, "Unsupported value type");
            }
        },
        value);
    return registry_.RegSetValueEx(key.key(), name, type, data) == 0;
}

bool GPSModule::RegistryDeleteValue(std::uint32_t root, std::string_view keyPath,
                                    std::string_view name) {
    OpenKey key(registry_, root, keyPath);
    if (!key.opened()) return false;
    return registry_.RegDeleteValue(key.key(), name) == 0;
}

std::string GPSModule::autoRunPath() const {
    return paths::join(shell_.AppPath(), shell_.EXEName()) + std::string(paths::executableSuffix);
}

}  // namespace tidewell
