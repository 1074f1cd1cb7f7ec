#pragma once
// The PC clock on Windows: read with GetSystemTimePreciseAsFileTime, converted with the zone's
// rules for the year in question (GetDynamicTimeZoneInformation, GetTimeZoneInformationForYear),
// set with SetSystemTime, which needs SE_SYSTEMTIME_NAME enabled in the process's token.
#include <windows.h>

#include <cstdint>
#include <map>

#include "platform/system_clock.h"

namespace tidewell {

// The calls that read or change the real clock and the process's rights. Tests pass a set of
// fakes: the real SetSystemTime changes this machine's clock, under Wine the host's as well.
// No member falls back to the real call, so a fake left empty crashes instead.
struct ClockApi {
    decltype(&::GetSystemTimePreciseAsFileTime) getSystemTimePreciseAsFileTime;
    decltype(&::SetSystemTime) setSystemTime;
    decltype(&::OpenProcessToken) openProcessToken;
    decltype(&::LookupPrivilegeValueW) lookupPrivilegeValueW;
    decltype(&::AdjustTokenPrivileges) adjustTokenPrivileges;
    decltype(&::CloseHandle) closeHandle;

    static ClockApi real();
};

// File-time ticks: 100 ns since 1601-01-01. A record's ticks (whole milliseconds; Error for
// fields that name no time), and the record of ticks (day of week filled).
std::int64_t fileTicksOf(const SystemTime& st);
SystemTime systemTimeOf(std::int64_t ticks);

// Instants here are file-time ticks in UTC.
class Win32SystemClock : public SystemClock {
public:
    explicit Win32SystemClock(const ClockApi& api = ClockApi::real());

    SystemTime localNow() const override;
    SystemTime utcNow() const override;
    SystemTime utcToLocal(const SystemTime& utc) const override;
    // Each enables SE_SYSTEMTIME_NAME, then makes one SetSystemTime call of the true instant.
    // Fields that name no time throw Error(ERROR_INVALID_PARAMETER); a refused right throws
    // Error(ERROR_NOT_ALL_ASSIGNED or ERROR_PRIVILEGE_NOT_HELD) saying how to get it.
    void setLocalDate(const ZonedTime& target) override;
    void setLocalTimeOfDay(const ZonedTime& target, DateChoice date) override;

    // Local time minus UTC at a UTC instant, in ticks.
    std::int64_t offsetAt(std::int64_t utc) const;

private:
    std::int64_t now() const;
    std::int64_t instantOfWall(std::int64_t wall, const ZonedTime& target) const;
    const TIME_ZONE_INFORMATION& rulesFor(WORD year) const;
    void set(std::int64_t utc);
    void enableRight();

    ClockApi api_;
    // Reading a year's rules goes to the registry (under Wine about half a millisecond), so
    // they are kept per year until the zone in force changes.
    mutable DYNAMIC_TIME_ZONE_INFORMATION zone_{};
    mutable std::map<WORD, TIME_ZONE_INFORMATION> rules_;
};

}  // namespace tidewell
