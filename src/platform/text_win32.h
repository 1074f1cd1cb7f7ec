#pragma once
// The program's text is UTF-8; the wide Windows functions take UTF-16 and the "A" functions the
// ANSI code page. Invalid UTF-8 becomes U+FFFD rather than failing a whole path.
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace tidewell::win32 {

inline std::wstring wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring out(std::size_t(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), out.data(), n);
    return out;
}

inline std::string utf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                        nullptr, nullptr);
    std::string out(std::size_t(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr,
                          nullptr);
    return out;
}

// The text in the ANSI code page; nullopt when a character has no exact form there (no
// best-fit look-alikes: "é" must not quietly turn into "e" inside a path).
inline std::optional<std::string> ansi(std::wstring_view text) {
    if (text.empty()) return std::string();
    BOOL lossy = FALSE;
    const int n = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), int(text.size()),
                                        nullptr, 0, nullptr, &lossy);
    if (n <= 0 || lossy) return std::nullopt;
    std::string out(std::size_t(n), '\0');
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), int(text.size()), out.data(),
                          n, nullptr, nullptr);
    return out;
}

}  // namespace tidewell::win32
