#include "settings/conversions.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/error.h"

namespace tidewell {
namespace {

// nullopt: the conversion must fail with `error`.
struct Case {
    std::string text;
    std::optional<int> expected;
    const char* why;
    int error = errors::Overflow;
};

template <typename F> void check(F convert, const std::vector<Case>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.why) + ": \"" + c.text + "\"");
        if (c.expected) {
            EXPECT_EQ(convert(c.text), *c.expected);
        } else {
            try {
                convert(c.text);
                ADD_FAILURE() << "no error";
            } catch (const Error& e) {
                EXPECT_EQ(e.number(), c.error);
                EXPECT_EQ(e.description(),
                          c.error == errors::Overflow ? "Overflow" : "Type mismatch");
            }
        }
    }
}

constexpr int TM = errors::TypeMismatch;

TEST(NumberPrefix, ReadsTheLongestLeadingNumber) {
    check(numberPrefix,
          {
              {"", 0, "empty text"},
              {"abc", 0, "no number"},
              {" 1", 1, "leading blank of the check-state form"},
              {"1abc", 1, "letters after the number ignored"},
              {"1 2", 12, "blank inside the number ignored"},
              {"\t1\n2 3", 123, "tabs and line feeds ignored too"},
              {"1\r2", 1, "carriage return ends the number"},
              {"-7", -7, "minus sign"},
              {"+7", 7, "plus sign"},
              {"--7", 0, "two signs are no number"},
              {"-", 0, "sign alone"},
              {"1.2.3", 1, "second point ends the number"},
              {"1e3", 1000, "exponent"},
              {"1E+3", 1000, "exponent with plus"},
              {"15e-1", 2, "negative exponent, then half to even"},
              {"2D2", 200, "D is an exponent marker too"},
              {"1e", 1, "marker without digits is not part of the number"},
              {"1e-999999999999", 0, "huge negative exponent underflows to 0"},
              {std::string(5000, '0') + "12", 12, "thousands of leading zeros"},
              {"&HFF", 255, "hexadecimal"},
              {"&hff", 255, "hexadecimal, small letters"},
              {"&H7FFF", 32767, "largest hexadecimal that fits"},
              {"&O17", 15, "octal"},
              {"&o18", 1, "octal stops at 8"},
              {"&H", 0, "radix prefix without digits"},
              {"& H 1 F", 31, "blanks inside a hexadecimal number"},
              {"-&H1", 0, "no sign before a radix prefix"},
          });
}

TEST(NumberPrefix, RoundsHalvesToEvenAndOverflowsOutside16Bits) {
    check(numberPrefix,
          {
              {"0.5", 0, "half rounds down to even 0"},
              {"1.5", 2, "half rounds up to even 2"},
              {"2.5", 2, "half rounds down to even 2"},
              {"-0.5", 0, "negative half to 0"},
              {"-1.5", -2, "negative half to -2"},
              {"0.4999999", 0, "just below half"},
              {"32767", 32767, "largest value"},
              {"32767.4", 32767, "rounds down into range"},
              {"32767.5", std::nullopt, "half rounds up to 32768"},
              {"32768", std::nullopt, "one above the range"},
              {"-32768", -32768, "smallest value"},
              {"-32768.5", -32768, "half rounds to even -32768"},
              {"-32769", std::nullopt, "one below the range"},
              {"1e5", std::nullopt, "large by exponent"},
              {std::string(400, '9'), std::nullopt, "more digits than a double holds"},
              {"&H8000", std::nullopt, "hexadecimal is unsigned: 32768"},
              {"&HFFFF", std::nullopt, "hexadecimal is unsigned: 65535"},
              {"&HFFFFFFFFFFFF", std::nullopt, "hexadecimal beyond 32 bits"},
          });
}

TEST(StrictNumber, AcceptsOnlyAWholeNumber) {
    check(strictNumber, {
                            {"1", 1, "plain digit"},
                            {"  1\t", 1, "blanks around allowed"},
                            {" 0", 0, "check-state form"},
                            {"-2.5", -2, "sign, fraction, half to even"},
                            {"1.", 1, "trailing point"},
                            {".5", 0, "leading point"},
                            {"2e1", 20, "exponent"},
                            {"&h10", 16, "hexadecimal"},
                            {"&O10", 8, "octal"},
                            {"", std::nullopt, "empty", TM},
                            {"1 2", std::nullopt, "blank inside", TM},
                            {"1abc", std::nullopt, "letters after the number", TM},
                            {"1e", std::nullopt, "exponent without digits", TM},
                            {"&H", std::nullopt, "radix prefix alone", TM},
                            {"1\n", std::nullopt, "line feed is not a blank here", TM},
                            {"40000", std::nullopt, "overflow"},
                        });
}

TEST(ToBoolean, WordsOrNumbers) {
    check([](const std::string& s) { return int(toBoolean(s)); },
          {
              {"True", 1, "word"},
              {"true", 1, "small letters"},
              {"  fAlSe ", 0, "mixed case with blanks"},
              {"-1", 1, "the classic true number"},
              {"0", 0, "zero"},
              {"-0.0", 0, "negative zero"},
              {"0.4", 1, "non-zero fraction is true, not rounded first"},
              {"100000", 1, "large number is true, no overflow"},
              {"yes", std::nullopt, "other word", TM},
              {"", std::nullopt, "empty", TM},
              {"truex", std::nullopt, "word with more after it", TM},
              {"1x", std::nullopt, "number with more after it", TM},
          });
}

}  // namespace
}  // namespace tidewell
