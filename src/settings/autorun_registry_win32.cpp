#include "settings/autorun_registry_win32.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <utility>

#include "platform/text_win32.h"

namespace tidewell {

namespace {

// Characters without an exact ANSI form become the code page's default character ('?'): the
// "A" registry functions could not take them either.
std::string ansiLossy(std::string_view utf8) {
    const std::wstring text = win32::wide(utf8);
    if (auto exact = win32::ansi(text)) return std::move(*exact);
    const int n = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), int(text.size()),
                                        nullptr, 0, nullptr, nullptr);
    std::string out(std::size_t(std::max(n, 0)), '\0');
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), int(text.size()), out.data(),
                          n, nullptr, nullptr);
    return out;
}

// A path the code page cannot spell is spelled by its short name, which is plain ASCII when
// the volume keeps short names.
std::string ansiData(std::string_view utf8) {
    const std::wstring text = win32::wide(utf8);
    if (auto exact = win32::ansi(text)) return std::move(*exact);
    std::wstring shortName(MAX_PATH, L'\0');
    DWORD n = ::GetShortPathNameW(text.c_str(), shortName.data(), DWORD(shortName.size()));
    if (n >= shortName.size()) {
        shortName.resize(n);
        n = ::GetShortPathNameW(text.c_str(), shortName.data(), DWORD(shortName.size()));
    }
    if (n > 0 && n < shortName.size()) {
        shortName.resize(n);
        if (auto exact = win32::ansi(shortName)) return std::move(*exact);
    }
    return ansiLossy(utf8);
}

class OpenKey {
public:
    explicit OpenKey(const std::string& path) {
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, ansiLossy(path).c_str(), 0, KEY_WRITE, &key_) !=
            ERROR_SUCCESS)
            key_ = nullptr;
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    ~OpenKey() {
        if (key_) ::RegCloseKey(key_);
    }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

}  // namespace

std::string RegistryAutoRun::keyOf(AutoRunList list) const {
    return list == AutoRunList::NextLogOnOnly ? runKey_ + "Once" : runKey_;
}

bool RegistryAutoRun::launchAtLogOn(AutoRunList list, std::string_view name,
                                    const std::string& command) {
    OpenKey key(keyOf(list));
    if (!key.get()) return false;
    std::string data = ansiData(command);
    data += '\0';  // the size given counts the terminator
    return ::RegSetValueExA(key.get(), ansiLossy(name).c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(data.data()),
                            DWORD(data.size())) == ERROR_SUCCESS;
}

bool RegistryAutoRun::remove(AutoRunList list, std::string_view name) {
    OpenKey key(keyOf(list));
    return key.get() && ::RegDeleteValueA(key.get(), ansiLossy(name).c_str()) == ERROR_SUCCESS;
}

}  // namespace tidewell
