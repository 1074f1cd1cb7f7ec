#include "settings/conversions.h"

#include <gtest/gtest.h>

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
        {prefix, "15e-1", 2, "negative exponent, then half up to even 2"},
        {prefix, "2D2", 200, "D is an exponent marker too"},
        {prefix, "&hff", 255, "hexadecimal, small letters"},
        {prefix, "& H 1 F", 31, "blanks inside a hexadecimal number"},
        {prefix, "&o18", 1, "octal stops at 8"},
        {prefix, "2.5", 2, "half rounds down to even 2"},
        {prefix, "32767.5", 0, "half rounds up to 32768", OV},
        {prefix, "-32768.5", -32768, "half rounds to even -32768"},
        {prefix, "-32769", 0, "one below the range", OV},
        {prefix, std::string(400, '9'), 0, "more digits than a double holds", OV},
        {prefix, "&H8000", 0, "hexadecimal is unsigned: 32768", OV},
        {strict, "  -2.5\t", -2, "blanks around, sign, fraction, half to even"},
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

}  // namespace
}  // namespace tidewell
