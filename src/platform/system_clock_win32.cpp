#include "platform/system_clock_win32.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "platform/calendar.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "platform/windows_error_win32.h"

namespace tidewell {

namespace {

constexpr std::int64_t kTicksPerDay = 86400 * std::int64_t(10'000'000);
constexpr const char* kSetting = "Setting the clock";
constexpr const char* kConverting = "Converting a time";

static_assert(sizeof(SystemTime) == sizeof(SYSTEMTIME));

[[noreturn]] void fail(DWORD err, const char* operation) {
    std::string text = std::string(operation) + ": " + windowsErrorText(err);
    if (err == ERROR_NOT_ALL_ASSIGNED || err == ERROR_PRIVILEGE_NOT_HELD)
        text += " Windows gives this right to programs run as administrator and never elevates"
                " one started from the Run key. To have Tidewell set the clock from log-on, run"
                " its installer again and tick \"Set the PC clock from log-on\"; or, from a"
                " Command Prompt run as administrator:"
                " schtasks /Create /TN Tidewell /SC ONLOGON /RL HIGHEST /TR \"\\\"" +
                paths::executablePath() + "\\\"\"";
    throw Error(errors::fromSystem(int(err)), text);
}

std::int64_t ticksOf(const FILETIME& ft) {
    return std::int64_t(std::uint64_t(ft.dwHighDateTime) << 32 | ft.dwLowDateTime);
}

SYSTEMTIME recordOf(std::int64_t ticks, const char* operation) {
    const FILETIME ft{DWORD(ticks), DWORD(std::uint64_t(ticks) >> 32)};
    SYSTEMTIME st{};
    if (!FileTimeToSystemTime(&ft, &st)) fail(ERROR_INVALID_PARAMETER, operation);
    return st;
}

// Whole milliseconds. SystemTimeToFileTime under Wine takes 29 February of any year, so the
// fields are checked here first.
std::int64_t ticksOf(const SYSTEMTIME& st, const char* operation) {
    FILETIME ft{};
    if (!calendar::isValid(st.wYear, st.wMonth, st.wDay) || st.wHour > 23 || st.wMinute > 59 ||
        st.wSecond > 59 || st.wMilliseconds > 999 || !SystemTimeToFileTime(&st, &ft))
        fail(ERROR_INVALID_PARAMETER, operation);
    return ticksOf(ft);
}

std::int64_t ticksOf(const SystemTime& st, const char* operation) {
    return ticksOf(std::bit_cast<SYSTEMTIME>(st), operation);
}

}  // namespace

std::int64_t fileTicksOf(const SystemTime& st) {
    return ticksOf(st, kConverting);
}

SystemTime systemTimeOf(std::int64_t ticks) {
    return std::bit_cast<SystemTime>(recordOf(ticks, kConverting));
}

ClockApi ClockApi::real() {
    return {GetSystemTimePreciseAsFileTime, SetSystemTime,         OpenProcessToken,
            LookupPrivilegeValueW,          AdjustTokenPrivileges, CloseHandle};
}

Win32SystemClock::Win32SystemClock(const ClockApi& api) : api_(api) {}

SystemTime Win32SystemClock::localNow() const {
    const std::int64_t t = now();
    return systemTimeOf(t + offsetAt(t));
}

SystemTime Win32SystemClock::utcNow() const {
    return systemTimeOf(now());
}

SystemTime Win32SystemClock::utcToLocal(const SystemTime& utc) const {
    const std::int64_t t = fileTicksOf(utc);
    return systemTimeOf(t + offsetAt(t));
}

void Win32SystemClock::setLocalDate(const ZonedTime& target) {
    const std::int64_t t = now();
    SYSTEMTIME local = recordOf(t + offsetAt(t), kSetting);
    local.wYear = target.local.wYear;
    local.wMonth = target.local.wMonth;
    local.wDay = target.local.wDay;
    set(instantOfWall(ticksOf(local, kSetting), target));
}

void Win32SystemClock::setLocalTimeOfDay(const ZonedTime& target, DateChoice date) {
    const std::int64_t t = now();
    SYSTEMTIME local = date == DateChoice::Target ? std::bit_cast<SYSTEMTIME>(target.local)
                                                  : recordOf(t + offsetAt(t), kSetting);
    local.wHour = target.local.wHour;
    local.wMinute = target.local.wMinute;
    local.wSecond = target.local.wSecond;
    local.wMilliseconds = target.local.wMilliseconds;
    const std::int64_t wall = ticksOf(local, kSetting);
    std::int64_t best = instantOfWall(wall, target);
    // Two days either side, as a zone may skip a whole date (Samoa's 30 December 2011).
    if (date == DateChoice::Nearest)
        for (int days : {-2, -1, 1, 2})
            if (const std::int64_t i = instantOfWall(wall + days * kTicksPerDay, target);
                std::abs(i - t) < std::abs(best - t))
                best = i;
    set(best);
}

// What SystemTimeToTzSpecificLocalTimeEx does, which Wine 8 lacks.
std::int64_t Win32SystemClock::offsetAt(std::int64_t utc) const {
    const SYSTEMTIME u = recordOf(utc, kConverting);
    SYSTEMTIME local{};
    if (!SystemTimeToTzSpecificLocalTime(&rulesFor(u.wYear), &u, &local))
        fail(GetLastError(), kConverting);
    return ticksOf(local, kConverting) - ticksOf(u, kConverting);
}

std::int64_t Win32SystemClock::now() const {
    FILETIME ft{};
    api_.getSystemTimePreciseAsFileTime(&ft);
    return ticksOf(ft);
}

// The wall time read with the offset `target` was made with, when that offset is in force
// there, so a wall time in the repeated hour stays in the GPS instant's pass. Otherwise as on
// Linux, not as TzSpecificLocalTimeToSystemTime: the earliest instant of the offsets in force
// a day either side that reads as `wall`, and a wall time that never occurs reads with the
// offset before the change.
std::int64_t Win32SystemClock::instantOfWall(std::int64_t wall, const ZonedTime& target) const {
    const std::int64_t offset = ticksOf(target.local, kSetting) - ticksOf(target.utc, kSetting);
    if (offsetAt(wall - offset) == offset) return wall - offset;
    const std::int64_t before = offsetAt(wall - kTicksPerDay);
    std::optional<std::int64_t> best;
    for (std::int64_t o : {before, offsetAt(wall), offsetAt(wall + kTicksPerDay)})
        if (offsetAt(wall - o) == o && (!best || wall - o < *best)) best = wall - o;
    return best.value_or(wall - before);
}

const TIME_ZONE_INFORMATION& Win32SystemClock::rulesFor(WORD year) const {
    DYNAMIC_TIME_ZONE_INFORMATION zone{};
    GetDynamicTimeZoneInformation(&zone);
    if (std::memcmp(&zone, &zone_, sizeof zone) != 0) zone_ = zone, rules_.clear();
    auto [rules, added] = rules_.try_emplace(year);
    // The zone's fixed rules where the user turned the yearly ones off, or where it has no
    // registry key to hold them (Wine's own for a host zone it cannot match).
    if (added && (zone_.DynamicDaylightTimeDisabled ||
                  !GetTimeZoneInformationForYear(year, &zone_, &rules->second)))
        std::memcpy(&rules->second, &zone_, sizeof rules->second);
    return rules->second;
}

void Win32SystemClock::set(std::int64_t utc) {
    const SYSTEMTIME st = recordOf(utc, kSetting);
    enableRight();
    if (!api_.setSystemTime(&st)) fail(GetLastError(), kSetting);
}

void Win32SystemClock::enableRight() {
    HANDLE token = nullptr;
    if (!api_.openProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        fail(GetLastError(), kSetting);
    TOKEN_PRIVILEGES right{1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
    // AdjustTokenPrivileges succeeds without granting a right the account lacks; only the
    // last error tells.
    const bool enabled =
        api_.lookupPrivilegeValueW(nullptr, L"" SE_SYSTEMTIME_NAME, &right.Privileges[0].Luid) &&
        api_.adjustTokenPrivileges(token, FALSE, &right, 0, nullptr, nullptr) &&
        GetLastError() == ERROR_SUCCESS;
    const DWORD err = GetLastError();
    api_.closeHandle(token);
    if (!enabled) fail(err, kSetting);
}

}  // namespace tidewell
