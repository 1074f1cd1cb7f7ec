#include "devices/nmea_decode.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

#include "gps/date_value.h"
#include "platform/calendar.h"

namespace tidewell {

namespace {

constexpr double kSecondsPerDay = 86400.0;

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
    const int yyyy = yy >= 80 ? 1900 + yy : 2000 + yy;
    if (!calendar::isValid(yyyy, mm, dd)) return std::nullopt;
    return CivilDate{yyyy, mm, dd};
}

DateWindow gpsDateWindow(CivilDate build) {
    constexpr int kWeekCycleDays = 1024 * 7;
    if (!calendar::isValid(build.year, build.month, build.day)) return {build, build};
    return {build, calendar::dateOf(calendar::daysOf(build) + kWeekCycleDays)};
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
