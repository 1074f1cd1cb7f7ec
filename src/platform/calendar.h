#pragma once
// The program's one calendar: proleptic Gregorian dates and day counts through std::chrono's
// calendar types, plus the few date texts the program reads.
#include <chrono>
#include <compare>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tidewell {

struct CivilDate {
    int year = 0, month = 0, day = 0;
    friend auto operator<=>(const CivilDate&, const CivilDate&) = default;
};

namespace calendar {

// Whether the date exists (29 February only in leap years).
bool isValid(int year, int month, int day);

// Days since 1970-01-01 (negative before); the date must be valid.
std::int64_t daysOf(const CivilDate& date);
CivilDate dateOf(std::int64_t days);

// "YYYY-MM-DD", a real calendar date.
std::optional<CivilDate> parseIsoDate(std::string_view text);
// The compiler's __DATE__ form, "Mmm dd yyyy" (day padded with a space).
std::optional<CivilDate> parseCompilerDate(std::string_view text);

}  // namespace calendar
}  // namespace tidewell
