#include "devices/nmea_decode.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

#include "gps/date_value.h"

namespace tidewell {

namespace {

constexpr double kSecondsPerDay = 86400.0;
constexpr std::int64_t kMillisPerDay = 86'400'000;
// 1970-01-01 as a date value.
constexpr std::int64_t kUnixEpochDays = 25569;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isUpper(char c) {
    return c >= 'A' && c <= 'Z';
}

int hexValue(char c) {
    if (isDigit(c)) return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Value of exactly `text.size()` decimal digits, or -1.
int digitsValue(std::string_view text) {
    if (text.empty()) return -1;
    int value = 0;
    for (char c : text) {
        if (!isDigit(c)) return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

bool isLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
    static constexpr std::array<int, 12> days{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[static_cast<std::size_t>(m - 1)];
}

std::optional<CivilDate> civilDate(int y, int m, int d) {
    if (m < 1 || m > 12 || d < 1 || d > daysInMonth(y, m)) return std::nullopt;
    return CivilDate{y, m, d};
}

// Civil date of a day count since 1970-01-01 (H. Hinnant's method).
CivilDate civilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
    return {y, m, d};
}

std::vector<std::string_view> splitFields(std::string_view body) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const auto comma = body.find(',', start);
        fields.push_back(body.substr(start, comma - start));
        if (comma == std::string_view::npos) return fields;
        start = comma + 1;
    }
}

std::string isoDate(CivilDate d) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", d.year, d.month, d.day);
    return text;
}

// TypeID of an address, or empty when the address is malformed.
std::string typeOfAddress(std::string_view address) {
    for (char c : address)
        if (!isUpper(c) && !isDigit(c)) return {};
    if (address.size() >= 2 && address[0] == 'P') return std::string(address);
    if (address.size() >= 3 && isUpper(address[0]) && isUpper(address[1]))
        return std::string(address.substr(2));
    return {};
}

// Empty when the RMC carries valid time data, else the reason.
std::string checkRmc(const std::vector<std::string_view>& fields, const DateWindow& dates,
                     std::optional<double>& utc) {
    constexpr std::size_t kTime = 1, kStatus = 2, kDate = 9;
    if (fields.size() <= kDate) return "too few fields";
    const std::string_view status = fields[kStatus];
    if (status != "A") return status.empty() ? "status empty" : "status " + std::string(status);
    if (fields[kTime].empty()) return "time empty";
    const auto seconds = parseNmeaTime(fields[kTime]);
    if (!seconds) return "bad time";
    if (fields[kDate].empty()) return "date empty";
    const auto date = parseNmeaDate(fields[kDate]);
    if (!date) return "bad date";
    if (*date < dates.earliest) return "before " + isoDate(dates.earliest);
    if (*date > dates.latest) return "after " + isoDate(dates.latest);
    const int whole = static_cast<int>(*seconds);
    const auto value =
        dateValueOf(date->year, date->month, date->day, whole / 3600, whole / 60 % 60, whole % 60);
    if (!value) return "bad date";
    utc = *value + (*seconds - whole) / kSecondsPerDay;
    return {};
}

}  // namespace

std::uint8_t nmeaChecksum(std::string_view body) {
    std::uint8_t sum = 0;
    for (char c : body) sum ^= static_cast<std::uint8_t>(c);
    return sum;
}

std::optional<double> parseNmeaTime(std::string_view field) {
    if (field.size() < 6) return std::nullopt;
    const int hh = digitsValue(field.substr(0, 2));
    const int mm = digitsValue(field.substr(2, 2));
    const int ss = digitsValue(field.substr(4, 2));
    if (hh < 0 || hh > 23 || mm < 0 || mm > 59 || ss < 0 || ss > 59) return std::nullopt;
    int millis = 0;
    if (field.size() > 6) {
        const std::string_view fraction = field.substr(7);
        if (field[6] != '.' || fraction.empty()) return std::nullopt;
        for (char c : fraction)
            if (!isDigit(c)) return std::nullopt;
        // Digits past milliseconds are dropped, so the second is always the sentence's own.
        for (std::size_t i = 0; i < 3; ++i)
            millis = millis * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
    }
    return hh * 3600.0 + mm * 60.0 + ss + millis / 1000.0;
}

std::optional<CivilDate> parseNmeaDate(std::string_view field) {
    if (field.size() != 6) return std::nullopt;
    const int dd = digitsValue(field.substr(0, 2));
    const int mm = digitsValue(field.substr(2, 2));
    const int yy = digitsValue(field.substr(4, 2));
    if (dd < 0 || mm < 0 || yy < 0) return std::nullopt;
    return civilDate(yy >= 80 ? 1900 + yy : 2000 + yy, mm, dd);
}

std::optional<CivilDate> parseIsoDate(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    const int y = digitsValue(text.substr(0, 4));
    const int m = digitsValue(text.substr(5, 2));
    const int d = digitsValue(text.substr(8, 2));
    if (y < 0 || m < 0 || d < 0) return std::nullopt;
    return civilDate(y, m, d);
}

std::optional<CivilDate> parseCompilerDate(std::string_view text) {
    static constexpr std::string_view kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
    if (text.size() != 11 || text[3] != ' ' || text[6] != ' ') return std::nullopt;
    const auto at = kMonths.find(text.substr(0, 3));
    if (at == std::string_view::npos || at % 3 != 0) return std::nullopt;
    std::string_view day = text.substr(4, 2);
    if (day[0] == ' ') day.remove_prefix(1);
    const int d = digitsValue(day);
    const int y = digitsValue(text.substr(7, 4));
    if (d < 0 || y < 0) return std::nullopt;
    return civilDate(y, static_cast<int>(at / 3) + 1, d);
}

std::string formatUtcMillis(double dateValue) {
    const auto total = static_cast<std::int64_t>(std::llround(dateValue * kMillisPerDay));
    std::int64_t days = total / kMillisPerDay;
    std::int64_t millis = total % kMillisPerDay;
    if (millis < 0) millis += kMillisPerDay, --days;
    const CivilDate date = civilFromDays(days - kUnixEpochDays);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", date.year, date.month,
                  date.day, static_cast<int>(millis / 3'600'000),
                  static_cast<int>(millis / 60'000 % 60), static_cast<int>(millis / 1000 % 60),
                  static_cast<int>(millis % 1000));
    return text;
}

DateWindow gpsDateWindow(CivilDate build) {
    constexpr int kWeekCycleDays = 1024 * 7;
    const auto first = dateValueOf(build.year, build.month, build.day, 0, 0, 0);
    if (!first) return {build, build};
    const DateParts last = datePartsOf(*first + kWeekCycleDays);
    return {build, {last.year, last.month, last.day}};
}

NmeaDecodeResult decodeNmeaSentence(std::string_view line, const DateWindow& dates) {
    NmeaDecodeResult result;
    if (line.empty() || line[0] != '$') {
        result.rejection = "no '$'";
        return result;
    }
    const auto star = line.find('*');
    const std::string_view body =
        line.substr(1, star == std::string_view::npos ? line.npos : star - 1);
    const auto fields = splitFields(body);
    result.typeId = typeOfAddress(fields[0]);
    if (star == std::string_view::npos) {
        result.rejection = "no checksum";
        return result;
    }
    const std::string_view digits = line.substr(star + 1);
    if (digits.size() != 2 || hexValue(digits[0]) < 0 || hexValue(digits[1]) < 0) {
        result.rejection = "malformed checksum";
        return result;
    }
    if (nmeaChecksum(body) != hexValue(digits[0]) * 16 + hexValue(digits[1])) {
        result.rejection = "checksum mismatch";
        return result;
    }
    if (result.typeId.empty()) {
        result.rejection = "bad address";
        return result;
    }
    std::optional<double> utc;
    if (result.typeId == "RMC") {
        result.rejection = checkRmc(fields, dates, utc);
        if (!result.rejection.empty()) return result;
    }
    result.sentence = NmeaSentence{result.typeId, utc};
    return result;
}

}  // namespace tidewell
