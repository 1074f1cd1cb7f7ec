#pragma once
// Date values (days since 1899-12-30 as a double, the fraction the time of day), their
// conversions to and from SYSTEMTIME records, and the three display patterns.
#include <chrono>
#include <optional>
#include <string>

#include "platform/system_time.h"

namespace tidewell {

using DateValue = double;

// Added to every RMC date-time: the double nearest 0.0000115 day, about 0.9936 s.
inline constexpr double kReceiveAdvance = 1.15e-5;

// Calendar parts of a date value, read after rounding to the nearest whole second (a
// fraction above one half rounds up, the carry running into minute, hour and date).
struct DateParts {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    friend bool operator==(const DateParts&, const DateParts&) = default;
};

// Throws Error(errors::InvalidDate) when the value lies outside years 100..9999.
DateParts datePartsOf(DateValue value);

// The date value of a calendar date and time; empty when a field is out of range or the
// year lies outside 100..9999.
std::optional<DateValue> dateValueOf(int year, int month, int day, int hour, int minute,
                                     int second);

// Writes year, month, day, hour, minute and second (by the rounding rule); day of week and
// milliseconds are left as they were. Throws like datePartsOf.
void DateToSystemTime(DateValue value, SystemTime& st);
// Whole seconds of the record; day of week and milliseconds ignored. Throws Error when the
// record holds no valid date.
void SystemTimeToDate(const SystemTime& st, DateValue& value);

// An instant to the millisecond, for setting the clock within the second.
using Instant = std::chrono::sys_time<std::chrono::milliseconds>;
// The instant a date value (from 1899-12-30 on) names, read as UTC, to the nearest millisecond.
Instant instantOf(DateValue value);
// The instant a record names, its fields read as UTC, milliseconds included.
Instant instantOf(const SystemTime& st);
// The record of an instant: every field, milliseconds and day of week included.
SystemTime systemTimeAt(Instant t);

// "dd-mm-yyyy   h:mm:ss" (GPS time display).
std::string formatGpsDisplay(DateValue value);
// "d/m/yy   h:mm:ss" (local time display).
std::string formatLocalDisplay(DateValue value);
// "YYYY-MM-DDTHH:MM:SS.sss", to the nearest millisecond (not by the whole-second rule).
std::string formatUtcMillis(DateValue value);
// "mm-dd-yyyy   hh:mm:ss" (the PC clock display), from a local clock reading.
std::string formatPcDisplay(const SystemTime& local);

}  // namespace tidewell
