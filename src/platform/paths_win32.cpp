#include <windows.h>

#include "platform/paths.h"
#include "platform/text_win32.h"

namespace tidewell::paths {

const std::string_view separator = "\\";
const std::string_view executableSuffix = ".Exe";

std::string executablePath() {
    // Wide, then UTF-8: the ANSI form would turn characters outside the code page into '?'.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
        if (n == 0) return "tidewell";
        if (n < buffer.size()) return win32::utf8(std::wstring_view(buffer).substr(0, n));
        if (buffer.size() >= 32768) return "tidewell";  // longer than any Windows path
        buffer.resize(buffer.size() * 2);
    }
}

namespace {
std::string programFolderIn(const wchar_t* variable) {
    const DWORD n = ::GetEnvironmentVariableW(variable, nullptr, 0);
    if (n <= 1) return {};
    std::wstring value(n, L'\0');
    const DWORD got = ::GetEnvironmentVariableW(variable, value.data(), n);
    if (got == 0 || got >= n) return {};
    value.resize(got);
    return join(win32::utf8(value), "Tidewell");
}
}  // namespace

std::string userConfigFolder() {
    return programFolderIn(L"APPDATA");
}

std::string userStateFolder() {
    return programFolderIn(L"LOCALAPPDATA");
}

}  // namespace tidewell::paths
