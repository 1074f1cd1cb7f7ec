#include "app/json_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace tidewell {

namespace {

// The length of the well-formed UTF-8 sequence at the start of `s`, or 0.
std::size_t sequenceLength(std::string_view s) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    else
        return 0;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    if (s.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return length;
}

}  // namespace

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    out.reserve(text.size() + 2);
    while (!text.empty()) {
        const std::size_t length = sequenceLength(text);
        const char c = text[0];
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            text.remove_prefix(1);
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\', out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(c));
            out += escape;
        } else {
            out.append(text.substr(0, length));
        }
        text.remove_prefix(length);
    }
    return out + "\"";
}

std::string fixedNumber(double value, int decimals) {
    char number[400];
    const auto end =
        std::to_chars(number, number + sizeof number, value, std::chars_format::fixed, decimals);
    return end.ec == std::errc() ? std::string(number, end.ptr) : std::string("nan");
}

JsonObject& JsonObject::raw(std::string_view name, std::string_view json) {
    if (!body_.empty()) body_ += ", ";
    body_ += jsonString(name);
    body_ += ": ";
    body_ += json;
    return *this;
}

JsonObject& JsonObject::add(std::string_view name, std::string_view text) {
    return raw(name, jsonString(text));
}

JsonObject& JsonObject::add(std::string_view name, bool value) {
    return raw(name, value ? "true" : "false");
}

JsonObject& JsonObject::add(std::string_view name, std::uint64_t value) {
    return raw(name, std::to_string(value));
}

JsonObject& JsonObject::add(std::string_view name, std::int64_t value) {
    return raw(name, std::to_string(value));
}

JsonObject& JsonObject::add(std::string_view name, std::optional<double> value, int decimals) {
    if (!value || !std::isfinite(*value)) return null(name);
    return raw(name, fixedNumber(*value, decimals));
}

JsonObject& JsonObject::add(std::string_view name, const JsonObject& object) {
    return raw(name, object.text());
}

JsonObject& JsonObject::add(std::string_view name, const std::vector<std::string>& texts) {
    std::string list = "[";
    for (const std::string& t : texts) list += (list.size() > 1 ? ", " : "") + jsonString(t);
    return raw(name, list + "]");
}

JsonObject& JsonObject::null(std::string_view name) {
    return raw(name, "null");
}

}  // namespace tidewell
