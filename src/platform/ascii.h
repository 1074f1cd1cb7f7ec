#pragma once
// Case rules for the program's own texts (sentence types, settings names, words): ASCII
// letters only, whatever the user's locale.
#include <string>
#include <string_view>

namespace tidewell::ascii {

constexpr char toLower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

constexpr char toUpper(char c) {
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

inline std::string lowerCased(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = toLower(c);
    return out;
}

inline std::string upperCased(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = toUpper(c);
    return out;
}

constexpr bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (toLower(a[i]) != toLower(b[i])) return false;
    return true;
}

}  // namespace tidewell::ascii
