#include "settings/conversions.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>

#include "platform/error.h"

namespace tidewell {
namespace {

constexpr int OV = errors::Overflow, TM = errors::TypeMismatch;

TEST(Conversions, ValuesAndErrors) {
    using Convert = int (*)(std::string_view);
    const Convert prefix = [](std::string_view s) -> int { return numberPrefix(s); };
    const Convert strict = [](std::string_view s) -> int { return strictNumber(s); };
    const Convert boolean = [](std::string_view s) -> int { return toBoolean(s); };
    // An error other than 0: the conversion must throw it instead. Letters after a number and
    // a number out of range are start-up's rows; the range's ends, the rounding property's.
    const std::tuple<Convert, std::string, int, const char*, int> rows[] = {
        // clang-format off
        {prefix, "\t1 2\n3", 123, "blanks, tabs and line feeds inside ignored", 0},
        {prefix, "1\r2", 1, "carriage return ends the number", 0},
        {prefix, "1.2.3", 1, "second point ends the number", 0},
        {prefix, "2D2", 200, "D is an exponent marker too", 0},
        {prefix, "& h 1 f", 31, "blanks inside a hexadecimal number, small letters", 0},
        {prefix, "&o18", 1, "octal stops at 8", 0},
        {prefix, std::string(400, '9'), 0, "more digits than a double holds", OV},
        {prefix, "&H8000", 0, "hexadecimal is unsigned: 32768", OV},
        {strict, "  -2\t", -2, "blanks around, sign", 0},
        {strict, "", 0, "empty", TM},
        {strict, "1 2", 0, "blank inside", TM},
        {boolean, "  fAlSe ", 0, "mixed case with blanks", 0},
        {boolean, "0.4", 1, "non-zero fraction is true, not rounded or range-checked first", 0},
        {boolean, "truex", 0, "word with more after it", TM},
        // clang-format on
    };
    for (const auto& [convert, text, expected, why, error] : rows) {
        SCOPED_TRACE(std::string(why) + ": \"" + text + "\"");
        try {
            EXPECT_EQ(convert(text), expected);
            EXPECT_EQ(error, 0) << "no error";
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), error);
            EXPECT_EQ(e.description(), error == OV ? "Overflow" : "Type mismatch");
        }
    }
}

// Numbers just below, at or just above a half, or well above, with far more digits than a
// double keeps, written plain or with the point moved either way by an exponent: each rounds to
// the nearest whole number, halves to even, or overflows outside 16 bits.
TEST(Conversions, RoundOnTheDecimalDigitsHalfToEven) {
    std::mt19937 rng(11);
    const auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution(lo, hi)(rng); };
    for (int run = 0; run < 20000; ++run) {
        const int whole = run < 32 ? 32767 + run / 16 : uniform(0, 40000), kind = run % 4;
        const std::string zeros(std::size_t(uniform(0, 20)), '0'), nines(zeros.size(), '9');
        const std::string fraction[] = {char('0' + uniform(0, 4)) + nines, "5" + zeros,
                                        "5" + zeros + char('1' + uniform(0, 8)),
                                        char('6' + uniform(0, 3)) + zeros + std::to_string(rng())};
        const int rounded = whole + (kind == 1 ? whole % 2 : kind > 1);
        const std::string digits = std::to_string(whole) + fraction[kind];
        const std::size_t point = std::to_string(whole).size();
        const std::string forms[] = {digits.substr(0, point) + "." + digits.substr(point),
                                     "0." + digits + "e" + std::to_string(point),
                                     digits + "e-" + std::to_string(digits.size() - point)};
        const bool negative = run % 8 >= 4;
        const std::string text = (negative ? "-" : "") + forms[run / 8 % 3];
        const int expected = negative ? -rounded : rounded;
        SCOPED_TRACE(text);
        if (expected < -32768 || expected > 32767) {
            EXPECT_THROW(numberPrefix(text), Error);
        } else {
            EXPECT_EQ(numberPrefix(text), expected);
            EXPECT_EQ(strictNumber(text), expected);
        }
    }
}

}  // namespace
}  // namespace tidewell
