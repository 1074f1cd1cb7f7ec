#include "gps/date_value.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/error.h"

namespace tidewell {
namespace {

DateValue valueOf(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, double extra = 0) {
    return *dateValueOf(y, mo, d, h, mi, s) + extra / 86400.0;
}

TEST(DateValue, PartsByTheRoundingRule) {
    const DateValue noon = valueOf(2026, 12, 6, 12);
    const struct {
        const char* what;
        DateValue value;
        DateParts expected;
    } rows[] = {
        // clang-format off
        {"day number of a known date", 46362.5, {2026, 12, 6, 12, 0, 0}},
        {"1900 has no 29 February", 61.0, {1900, 3, 1, 0, 0, 0}},
        {"noon one ulp below", std::nextafter(noon, 0.0), {2026, 12, 6, 12, 0, 0}},
        {"noon one ulp above", std::nextafter(noon, 1e9), {2026, 12, 6, 12, 0, 0}},
        {"0.4 s rounds down", valueOf(2026, 12, 6, 0, 0, 0, 0.4), {2026, 12, 6, 0, 0, 0}},
        {"0.6 s rounds up", valueOf(2026, 12, 6, 0, 0, 0, 0.6), {2026, 12, 6, 0, 0, 1}},
        {"exact half second stays (1/256 day = 0:05:37.5)", 1.0 / 256, {1899, 12, 30, 0, 5, 37}},
        {"one ulp above it rounds up", std::nextafter(1.0 / 256, 1.0), {1899, 12, 30, 0, 5, 38}},
        // Times 172800 both round to exactly 1; only the exact value decides.
        {"double nearest 0.5 s lies below it", 0.5 / 86400, {1899, 12, 30, 0, 0, 0}},
        {"the next double lies above it", std::nextafter(0.5 / 86400, 1.0), {1899, 12, 30, 0, 0, 1}},
        {"carry into the next year", valueOf(2026, 12, 31, 23, 59, 59, 0.6), {2027, 1, 1, 0, 0, 0}},
        {"carry into leap day", valueOf(2024, 2, 28, 23, 59, 59, 0.7), {2024, 2, 29, 0, 0, 0}},
        {"carry from the last ulp of a day", std::nextafter(46363.0, 0.0), {2026, 12, 7, 0, 0, 0}},
        {"negative: day toward zero, time forward", -1.25, {1899, 12, 29, 6, 0, 0}},
        {"negative fraction only", -0.25, {1899, 12, 30, 6, 0, 0}},
        {"negative carry goes to the later day", -1 - 86399.7 / 86400, {1899, 12, 30, 0, 0, 0}},
        {"first day of the range", -657434.0, {100, 1, 1, 0, 0, 0}},
        {"last second of the range", valueOf(9999, 12, 31, 23, 59, 59), {9999, 12, 31, 23, 59, 59}},
        // clang-format on
    };
    for (const auto& r : rows)
        EXPECT_EQ(datePartsOf(r.value), r.expected) << r.what;
}

TEST(DateValue, OutsideTheRangeThrowsInvalidDate) {
    for (DateValue v : {-657435.0, valueOf(9999, 12, 31, 23, 59, 59, 0.6), 1e300, double(NAN),
                        double(INFINITY)}) {
        try {
            datePartsOf(v);
            ADD_FAILURE() << v << " accepted";
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), errors::InvalidDate) << v;
        }
    }
}

TEST(DateValue, FieldsRoundTripAndImpossibleOnesAreRefused) {
    int n = 0;
    for (int y : {100, 1899, 1900, 1970, 2026, 2400, 9999})
        for (int mo = 1; mo <= 12; ++mo, ++n) {
            const DateParts p{y, mo, 1 + n * 7 % 28, n * 5 % 24, n * 13 % 60, n % 60};
            EXPECT_EQ(datePartsOf(valueOf(p.year, p.month, p.day, p.hour, p.minute, p.second)), p);
        }
    EXPECT_EQ(valueOf(1899, 12, 29, 6), -1.25) << "before the epoch the time counts forward";
    EXPECT_TRUE(dateValueOf(2000, 2, 29, 0, 0, 0));
    EXPECT_FALSE(dateValueOf(2100, 2, 29, 0, 0, 0));
    EXPECT_FALSE(dateValueOf(2026, 4, 31, 0, 0, 0));
    EXPECT_FALSE(dateValueOf(99, 12, 31, 0, 0, 0));
    EXPECT_FALSE(dateValueOf(10000, 1, 1, 0, 0, 0));
    EXPECT_FALSE(dateValueOf(2026, 13, 1, 0, 0, 0));
    EXPECT_FALSE(dateValueOf(2026, 1, 1, 24, 0, 0));
    EXPECT_FALSE(dateValueOf(2026, 1, 1, 0, 0, 60));
}

TEST(SystemTimeConversions, WholeSecondsOnlyOtherFieldsLeftAlone) {
    SystemTime st{};
    st.wDayOfWeek = 3;
    st.wMilliseconds = 999;
    DateToSystemTime(valueOf(2026, 12, 6, 9, 5, 1, 0.7), st);
    EXPECT_EQ(st, (SystemTime{2026, 12, 3, 6, 9, 5, 2, 999}));

    DateValue v = -1;
    SystemTimeToDate(SystemTime{2026, 12, 0, 6, 9, 5, 1, 999}, v);
    EXPECT_EQ(v, valueOf(2026, 12, 6, 9, 5, 1)) << "milliseconds ignored";
    EXPECT_THROW(SystemTimeToDate(SystemTime{}, v), Error) << "all zeros is no date";
}

TEST(Displays, Patterns) {
    const DateValue t = valueOf(2026, 12, 6, 9, 5, 1);
    EXPECT_EQ(formatGpsDisplay(t), "06-12-2026   9:05:01");
    EXPECT_EQ(formatLocalDisplay(t), "6/12/26   9:05:01");
    EXPECT_EQ(formatLocalDisplay(valueOf(2105, 10, 31, 23, 59, 59)), "31/10/05   23:59:59");
    EXPECT_EQ(formatGpsDisplay(valueOf(2026, 12, 6, 9, 5, 1, 0.6)), "06-12-2026   9:05:02");
    EXPECT_EQ(formatPcDisplay(SystemTime{2026, 12, 0, 6, 9, 5, 1, 999}), "12-06-2026   09:05:01")
        << "month first; milliseconds dropped, not rounded";
}

} // namespace
} // namespace tidewell
