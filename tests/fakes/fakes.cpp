#include "fakes.h"

#include <cstdio>

namespace tidewell::fakes {

namespace {
int daysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : days[m - 1];
}
}  // namespace

SystemTime FakeClock::shifted(SystemTime t, int minutes) {
    int total = t.wHour * 60 + t.wMinute + minutes;
    int dayShift = 0;
    while (total < 0) total += 1440, --dayShift;
    while (total >= 1440) total -= 1440, ++dayShift;
    t.wHour = std::uint16_t(total / 60);
    t.wMinute = std::uint16_t(total % 60);
    int y = t.wYear, m = t.wMonth, d = t.wDay + dayShift;
    while (d < 1) {
        if (--m < 1) m = 12, --y;
        d += daysInMonth(y, m);
    }
    while (d > daysInMonth(y, m)) {
        d -= daysInMonth(y, m);
        if (++m > 12) m = 1, ++y;
    }
    t.wYear = std::uint16_t(y), t.wMonth = std::uint16_t(m), t.wDay = std::uint16_t(d);
    return t;
}

void FakeClock::record(const char* what, int a, int b, int c, char sep) {
    char buf[48];
    if (sep == '-')
        std::snprintf(buf, sizeof buf, "%s %04d-%02d-%02d", what, a, b, c);
    else
        std::snprintf(buf, sizeof buf, "%s %02d:%02d:%02d", what, a, b, c);
    sets.emplace_back(buf);
    if (refuse) {
        sets.back() += " refused";
        throw Error(1, "Operation not permitted");
    }
}

long FakeAutoRunStore::RegOpenKeyEx(std::uint32_t root, std::string_view subKey,
                                    std::uint32_t access, Key& key) {
    calls.push_back("open " + std::to_string(root) + " " + std::string(subKey) + " " +
                    std::to_string(access));
    if (openResult != 0) return openResult;
    key = next_++;
    open_[key] = std::string(subKey);
    return 0;
}

long FakeAutoRunStore::RegSetValueEx(Key key, std::string_view name, std::uint32_t type,
                                     std::span<const std::uint8_t> data) {
    calls.push_back("set " + std::string(name) + " type " + std::to_string(type) + " size " +
                    std::to_string(data.size()));
    auto it = open_.find(key);
    if (it == open_.end()) return 6;  // invalid handle
    std::string text(data.begin(), data.end());
    values[it->second + "\\" + std::string(name)] = text;
    return 0;
}

long FakeAutoRunStore::RegDeleteValue(Key key, std::string_view name) {
    calls.push_back("delete " + std::string(name));
    auto it = open_.find(key);
    if (it == open_.end()) return 6;
    return values.erase(it->second + "\\" + std::string(name)) ? 0 : 2;
}

long FakeAutoRunStore::RegCloseKey(Key key) {
    calls.push_back("close");
    return open_.erase(key) ? 0 : 6;
}

}  // namespace tidewell::fakes
