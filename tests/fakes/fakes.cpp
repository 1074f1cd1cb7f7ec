#include "fakes.h"

#include <cstdio>

#include "platform/calendar.h"

namespace tidewell::fakes {

SystemTime FakeClock::shifted(SystemTime t, int minutes) {
    const std::int64_t total =
        calendar::daysOf({t.wYear, t.wMonth, t.wDay}) * 1440 + t.wHour * 60 + t.wMinute + minutes;
    const std::int64_t day = total >= 0 ? total / 1440 : (total - 1439) / 1440;
    const CivilDate date = calendar::dateOf(day);
    t.wYear = std::uint16_t(date.year), t.wMonth = std::uint16_t(date.month);
    t.wDay = std::uint16_t(date.day);
    t.wHour = std::uint16_t((total - day * 1440) / 60);
    t.wMinute = std::uint16_t((total - day * 1440) % 60);
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
