#include "settings/conversions.h"

#include "settings/blanks.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/ascii.h"
#include "platform/error.h"

namespace tidewell {

namespace {

// A number as scanned, before any arithmetic: decimal digits with the position of the point
// and a (saturated) exponent, or an unsigned radix value (saturated).
struct Scanned {
    std::size_t length = 0;  // characters consumed
    bool radix = false;
    std::uint32_t radixValue = 0;
    bool negative = false;
    std::string digits;  // integer and fraction digits, point removed
    std::size_t pointPos = 0;
    std::int64_t exponent = 0;
};

constexpr std::int64_t kExponentCap = 1'000'000;
constexpr std::uint32_t kRadixCap = 0x10000000;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int digitValue(char c, int base) {
    int v = -1;
    if (c >= '0' && c <= '9')
        v = c - '0';
    else if (c >= 'a' && c <= 'f')
        v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        v = c - 'A' + 10;
    return v < base ? v : -1;
}

// The longest number at the start of `s`; nullopt when there is none. An exponent marker
// without digits is not part of the number.
std::optional<Scanned> scan(std::string_view s) {
    Scanned n;
    std::size_t i = 0;
    if (s.size() >= 2 && s[0] == '&') {
        char p = s[1];
        int base = (p == 'h' || p == 'H') ? 16 : (p == 'o' || p == 'O') ? 8 : 0;
        if (base == 0) return std::nullopt;
        i = 2;
        std::size_t first = i;
        for (int d; i < s.size() && (d = digitValue(s[i], base)) >= 0; ++i)
            n.radixValue = n.radixValue >= kRadixCap ? kRadixCap : n.radixValue * base + d;
        if (i == first) return std::nullopt;
        n.radix = true;
        n.length = i;
        return n;
    }
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) n.negative = s[i++] == '-';
    for (; i < s.size() && isDigit(s[i]); ++i) n.digits += s[i];
    n.pointPos = n.digits.size();
    if (i < s.size() && s[i] == '.')
        for (++i; i < s.size() && isDigit(s[i]); ++i) n.digits += s[i];
    if (n.digits.empty()) return std::nullopt;
    n.length = i;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        std::size_t j = i + 1;
        bool negExp = false;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) negExp = s[j++] == '-';
        std::size_t first = j;
        std::int64_t e = 0;
        for (; j < s.size() && isDigit(s[j]); ++j)
            e = std::min(kExponentCap, e * 10 + (s[j] - '0'));
        if (j > first) {
            n.exponent = negExp ? -e : e;
            n.length = j;
        }
    }
    return n;
}

bool isZero(const Scanned& n) {
    if (n.radix) return n.radixValue == 0;
    return n.digits.find_first_not_of('0') == std::string::npos;
}

[[noreturn]] void overflow() {
    throw Error(errors::Overflow, "Overflow");
}

std::int16_t toInt16(const Scanned& n) {
    if (n.radix) {
        if (n.radixValue > 32767) overflow();
        return static_cast<std::int16_t>(n.radixValue);
    }
    std::size_t lead = n.digits.find_first_not_of('0');
    if (lead == std::string::npos) return 0;
    // Decimal order of the leading digit; decides the far cases without floating-point range
    // trouble, however many digits or however large an exponent the text has.
    std::int64_t order =
        static_cast<std::int64_t>(n.pointPos) - static_cast<std::int64_t>(lead) - 1 + n.exponent;
    if (order >= 5) overflow();
    if (order < -1) return 0;
    // Rounded on the decimal digits themselves, half to even: as a double, 0.50000000000000001
    // would already be 0.5, and 1.49999999999999999 already 1.5.
    const auto size = static_cast<std::int64_t>(n.digits.size());
    const std::int64_t point = static_cast<std::int64_t>(n.pointPos) + n.exponent;
    const auto digit = [&](std::int64_t i) {
        return i >= 0 && i < size ? n.digits[static_cast<std::size_t>(i)] - '0' : 0;
    };
    std::int64_t whole = 0;
    for (std::int64_t i = 0; i < point; ++i) whole = whole * 10 + digit(i);
    bool pastHalf = false;
    for (std::int64_t i = std::max<std::int64_t>(point + 1, 0); i < size && !pastHalf; ++i)
        pastHalf = digit(i) != 0;
    const int half = digit(point);
    if (half > 5 || (half == 5 && (pastHalf || whole % 2 == 1))) ++whole;
    const std::int64_t value = n.negative ? -whole : whole;
    if (value < -32768 || value > 32767) overflow();
    return static_cast<std::int16_t>(value);
}

Scanned scanWhole(std::string_view text) {
    std::string_view t = trimBlanks(text);
    auto n = scan(t);
    if (!n || n->length != t.size()) throw Error(errors::TypeMismatch, "Type mismatch");
    return *n;
}

}  // namespace

std::int16_t numberPrefix(std::string_view text) {
    std::string packed;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\n') packed += c;
    auto n = scan(packed);
    return n ? toInt16(*n) : 0;
}

std::int16_t strictNumber(std::string_view text) {
    return toInt16(scanWhole(text));
}

bool isStrictNumber(std::string_view text) {
    try {
        strictNumber(text);
        return true;
    } catch (const Error&) {
        return false;
    }
}

bool toBoolean(std::string_view text) {
    std::string_view t = trimBlanks(text);
    if (ascii::equalsIgnoringCase(t, "true")) return true;
    if (ascii::equalsIgnoringCase(t, "false")) return false;
    // Any non-zero number is true, however large: no 16-bit rounding here.
    return !isZero(scanWhole(t));
}

}  // namespace tidewell
