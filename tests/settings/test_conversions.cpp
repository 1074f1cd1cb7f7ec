#include "settings/conversions.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/error.h"

namespace tidewell {
namespace {

constexpr int OV = errors::Overflow, TM = errors::TypeMismatch;

TEST(Conversions, ValuesAndErrors) {
    using Convert = int (*)(std::string_view);
    const Convert prefix = [](std::string_view s) -> int { return numberPrefix(s); };
    const Convert strict = [](std::string_view s) -> int { return strictNumber(s); };
    const Convert boolean = [](std::string_view s) -> int { return toBoolean(s); };
    // `error` set: the conversion must throw it instead.
    const struct {
        Convert convert;
        std::string text;
        int expected;
        const char* why;
        int error = 0;
    } rows[] = {
        // clang-format off
        {prefix, "1abc", 1, "letters after the number ignored"},
        {prefix, "\t1 2\n3", 123, "blanks, tabs and line feeds inside ignored"},
        {prefix, "1\r2", 1, "carriage return ends the number"},
        {prefix, "1.2.3", 1, "second point ends the number"},
        {prefix, "2D2", 200, "D is an exponent marker too"},
        {prefix, "&hff", 255, "hexadecimal, small letters"},
        {prefix, "& H 1 F", 31, "blanks inside a hexadecimal number"},
        {prefix, "&o18", 1, "octal stops at 8"},
        {prefix, "-32769", 0, "one below the range", OV},
        {prefix, std::string(400, '9'), 0, "more digits than a double holds", OV},
        {prefix, "&H8000", 0, "hexadecimal is unsigned: 32768", OV},
        {strict, "  -2\t", -2, "blanks around, sign"},
        {strict, "", 0, "empty", TM},
        {strict, "1 2", 0, "blank inside", TM},
        {boolean, "tRUE", 1, "word in any case"},
        {boolean, "  fAlSe ", 0, "mixed case with blanks"},
        {boolean, "0.4", 1, "non-zero fraction is true, not rounded first"},
        {boolean, "100000", 1, "large number is true, no overflow"},
        {boolean, "truex", 0, "word with more after it", TM},
        // clang-format on
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.why) + ": \"" + r.text + "\"");
        try {
            EXPECT_EQ(r.convert(r.text), r.expected);
            EXPECT_EQ(r.error, 0) << "no error";
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), r.error);
            EXPECT_EQ(e.description(), r.error == OV ? "Overflow" : "Type mismatch");
        }
    }
}

// Numbers written out, their point moved by an exponent, just below, at or just above a half,
// far past the digits a double keeps: each rounds to the nearest whole number, halves to even,
// or overflows outside 16 bits.
TEST(Conversions, RoundOnTheDecimalDigitsHalfToEven) {
    std::mt19937 random(11);
    std::uniform_int_distribution<int> digit(0, 9);
    const auto digits = [&](int count) {
        std::string s;
        while (count-- > 0) s += char('0' + digit(random));
        return s;
    };
    for (int run = 0; run < 20000; ++run) {
        const int whole = std::uniform_int_distribution(0, 40000)(random);
        const int zeros = std::uniform_int_distribution(0, 20)(random);
        std::string fraction;
        int rounded = whole;
        switch (run % 4) {
        case 0:  // below a half: 0.4999...9 or less
            fraction = char('0' + std::uniform_int_distribution(0, 4)(random)) + std::string(zeros, '9');
            break;
        case 1:  // exactly a half
            fraction = "5" + std::string(zeros, '0');
            rounded += whole % 2;
            break;
        case 2:  // a hair above a half
            fraction = "5" + std::string(zeros, '0') + char('1' + digit(random) % 9);
            ++rounded;
            break;
        default:  // well above
            fraction = char('6' + digit(random) % 4) + digits(zeros);
            ++rounded;
        }
        const bool negative = run % 8 >= 4;
        // The same number with its point moved left by `shift`, and an exponent to undo it.
        const int shift = std::uniform_int_distribution(-3, 3)(random);
        std::string mantissa = std::to_string(whole) + fraction;
        std::int64_t point = std::int64_t(std::to_string(whole).size()) - shift;
        if (point <= 0) mantissa.insert(0, std::size_t(1 - point), '0'), point = 1;
        if (point > std::int64_t(mantissa.size())) mantissa.resize(std::size_t(point), '0');
        mantissa.insert(std::size_t(point), ".");
        const std::string text = (negative ? "-" : "") + mantissa + "e" + std::to_string(shift);
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
