#include "platform/calendar.h"

namespace tidewell::calendar {

namespace {

using namespace std::chrono;

// Every character a decimal digit; -1 otherwise or when empty.
int digitsValue(std::string_view text) {
    if (text.empty()) return -1;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::optional<CivilDate> validDate(int y, int m, int d) {
    if (!isValid(y, m, d)) return std::nullopt;
    return CivilDate{y, m, d};
}

}  // namespace

bool isValid(int y, int m, int d) {
    return m >= 1 && m <= 12 && d >= 1 && d <= 31 &&
           year_month_day{year{y}, month{unsigned(m)}, day{unsigned(d)}}.ok();
}

std::int64_t daysOf(const CivilDate& date) {
    const year_month_day ymd{year{date.year}, month{unsigned(date.month)}, day{unsigned(date.day)}};
    return sys_days{ymd}.time_since_epoch().count();
}

CivilDate dateOf(std::int64_t days) {
    const year_month_day ymd{sys_days{std::chrono::days{days}}};
    return {int(ymd.year()), int(unsigned(ymd.month())), int(unsigned(ymd.day()))};
}

std::optional<CivilDate> parseIsoDate(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    const int y = digitsValue(text.substr(0, 4));
    const int m = digitsValue(text.substr(5, 2));
    const int d = digitsValue(text.substr(8, 2));
    if (y < 0 || m < 0 || d < 0) return std::nullopt;
    return validDate(y, m, d);
}

std::optional<CivilDate> parseCompilerDate(std::string_view text) {
    static constexpr std::string_view kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
    if (text.size() != 11 || text[3] != ' ' || text[6] != ' ') return std::nullopt;
    const auto at = kMonths.find(text.substr(0, 3));
    if (at == std::string_view::npos || at % 3 != 0) return std::nullopt;
    std::string_view dayText = text.substr(4, 2);
    if (dayText[0] == ' ') dayText.remove_prefix(1);
    const int d = digitsValue(dayText);
    const int y = digitsValue(text.substr(7, 4));
    if (d < 0 || y < 0) return std::nullopt;
    return validDate(y, int(at / 3) + 1, d);
}

}  // namespace tidewell::calendar
