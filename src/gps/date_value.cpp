#include "gps/date_value.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "platform/calendar.h"
#include "platform/error.h"

namespace tidewell {

namespace {

constexpr int kMinYear = 100;
constexpr int kMaxYear = 9999;

const std::int64_t kEpochDay = calendar::daysOf({1899, 12, 30});

// Whole seconds of a time-of-day fraction (0 <= frac < 1) by the rounding rule, decided on the
// exact value of the double: fma recovers the rounding error of frac * 172800 (half-seconds),
// so values a hair either side of a half second fall on the right side.
std::int64_t roundedSecondsOfDay(double frac) {
    const double p = frac * 172800.0;
    const double err = std::fma(frac, 172800.0, -p);
    const double k = std::floor(p);
    // Strictly above k; a product rounded up onto k lies below it, which leaves the result
    // unchanged whether k is odd (no round-up) or even.
    const bool beyond = p != k || err > 0;
    const auto halves = std::int64_t(k);
    return halves / 2 + ((halves % 2 == 1 && beyond) ? 1 : 0);
}

[[noreturn]] void invalidDate(const char* what) {
    throw Error(errors::InvalidDate, std::string(what) + ": date outside years 100 to 9999");
}

}  // namespace

DateParts datePartsOf(DateValue value) {
    // Beyond this the calendar range is long exceeded; keeps the integer conversion defined.
    if (!std::isfinite(value) || std::fabs(value) > 1e7) invalidDate("Reading a date value");
    double whole = 0;
    const double frac = std::fabs(std::modf(value, &whole));
    std::int64_t day = std::int64_t(whole);
    std::int64_t secs = roundedSecondsOfDay(frac);
    if (secs >= 86400) secs -= 86400, ++day;

    DateParts p;
    const CivilDate date = calendar::dateOf(kEpochDay + day);
    p.year = date.year, p.month = date.month, p.day = date.day;
    if (p.year < kMinYear || p.year > kMaxYear) invalidDate("Reading a date value");
    p.hour = int(secs / 3600);
    p.minute = int(secs / 60 % 60);
    p.second = int(secs % 60);
    return p;
}

std::optional<DateValue> dateValueOf(int year, int month, int day, int hour, int minute,
                                     int second) {
    if (year < kMinYear || year > kMaxYear || !calendar::isValid(year, month, day) || hour < 0 ||
        hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return std::nullopt;
    const double days = double(calendar::daysOf({year, month, day}) - kEpochDay);
    const double time = (hour * 3600 + minute * 60 + second) / 86400.0;
    // Before the epoch the time of day still counts forward, away from the day.
    return days < 0 ? days - time : days + time;
}

void DateToSystemTime(DateValue value, SystemTime& st) {
    const DateParts p = datePartsOf(value);
    st.wYear = std::uint16_t(p.year);
    st.wMonth = std::uint16_t(p.month);
    st.wDay = std::uint16_t(p.day);
    st.wHour = std::uint16_t(p.hour);
    st.wMinute = std::uint16_t(p.minute);
    st.wSecond = std::uint16_t(p.second);
}

void SystemTimeToDate(const SystemTime& st, DateValue& value) {
    const auto v = dateValueOf(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
    if (!v) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "Converting %u-%u-%u %u:%u:%u: not a valid date",
                      unsigned(st.wYear), unsigned(st.wMonth), unsigned(st.wDay),
                      unsigned(st.wHour), unsigned(st.wMinute), unsigned(st.wSecond));
        throw Error(errors::InvalidDate, buf);
    }
    value = *v;
}

Instant instantOf(DateValue value) {
    using namespace std::chrono;
    return Instant(days(kEpochDay)) + milliseconds(std::llround(value * 86'400'000.0));
}

Instant instantOf(const SystemTime& st) {
    using namespace std::chrono;
    return Instant(days(calendar::daysOf({st.wYear, st.wMonth, st.wDay}))) + hours(st.wHour) +
           minutes(st.wMinute) + seconds(st.wSecond) + milliseconds(st.wMilliseconds);
}

SystemTime systemTimeAt(Instant t) {
    using namespace std::chrono;
    const sys_days day = floor<days>(t);
    const CivilDate date = calendar::dateOf(day.time_since_epoch().count());
    const hh_mm_ss<milliseconds> time(t - day);
    SystemTime st;
    st.wYear = std::uint16_t(date.year);
    st.wMonth = std::uint16_t(date.month);
    st.wDayOfWeek = std::uint16_t(weekday(day).c_encoding());
    st.wDay = std::uint16_t(date.day);
    st.wHour = std::uint16_t(time.hours().count());
    st.wMinute = std::uint16_t(time.minutes().count());
    st.wSecond = std::uint16_t(time.seconds().count());
    st.wMilliseconds = std::uint16_t(time.subseconds().count());
    return st;
}

std::string formatGpsDisplay(DateValue value) {
    const DateParts p = datePartsOf(value);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d-%02d-%04d   %d:%02d:%02d", p.day, p.month, p.year, p.hour,
                  p.minute, p.second);
    return buf;
}

std::string formatLocalDisplay(DateValue value) {
    const DateParts p = datePartsOf(value);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d/%d/%02d   %d:%02d:%02d", p.day, p.month, p.year % 100,
                  p.hour, p.minute, p.second);
    return buf;
}

std::string formatPcDisplay(const SystemTime& local) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02u-%02u-%04u   %02u:%02u:%02u", unsigned(local.wMonth),
                  unsigned(local.wDay), unsigned(local.wYear), unsigned(local.wHour),
                  unsigned(local.wMinute), unsigned(local.wSecond));
    return buf;
}

std::string formatUtcMillis(DateValue value) {
    constexpr std::int64_t kMillisPerDay = 86'400'000;
    const auto total = std::int64_t(std::llround(value * kMillisPerDay));
    std::int64_t days = total / kMillisPerDay, millis = total % kMillisPerDay;
    if (millis < 0) millis += kMillisPerDay, --days;
    const CivilDate date = calendar::dateOf(kEpochDay + days);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", date.year, date.month,
                  date.day, int(millis / 3'600'000), int(millis / 60'000 % 60),
                  int(millis / 1000 % 60), int(millis % 1000));
    return text;
}

}  // namespace tidewell
