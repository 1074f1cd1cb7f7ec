#pragma once
// JSON written by hand for the status: a string's quoting, and an object built field by field
// in the order given.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tidewell {

// `text` as a JSON string, quotes included. Quotes, backslashes and control characters are
// escaped; every byte that is not part of well-formed UTF-8 becomes U+FFFD, so the result is
// valid JSON whatever the system's words were encoded in.
std::string jsonString(std::string_view text);

// `value` with `decimals` places and a point, whatever the locale (Qt sets the user's, and
// printf would write a comma for some).
std::string fixedNumber(double value, int decimals);

class JsonObject {
public:
    JsonObject& add(std::string_view name, std::string_view text);
    JsonObject& add(std::string_view name, const char* text) {
        return add(name, std::string_view(text));
    }
    JsonObject& add(std::string_view name, const std::string& text) {
        return add(name, std::string_view(text));
    }
    JsonObject& add(std::string_view name, bool value);
    JsonObject& add(std::string_view name, std::uint64_t value);
    JsonObject& add(std::string_view name, int value) { return add(name, std::int64_t(value)); }
    JsonObject& add(std::string_view name, std::int64_t value);
    // A number with `decimals` places; null when empty or not finite.
    JsonObject& add(std::string_view name, std::optional<double> value, int decimals);
    JsonObject& add(std::string_view name, const JsonObject& object);
    JsonObject& add(std::string_view name, const std::vector<std::string>& texts);
    JsonObject& null(std::string_view name);

    std::string text() const { return "{" + body_ + "}"; }

private:
    JsonObject& raw(std::string_view name, std::string_view json);
    std::string body_;
};

}  // namespace tidewell
