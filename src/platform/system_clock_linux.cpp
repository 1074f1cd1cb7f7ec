#include "platform/system_clock_linux.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "platform/calendar.h"
#include "platform/error.h"

namespace tidewell {

namespace {

[[noreturn]] void fail(int err, const char* operation) {
    throw systemError(err, operation);
}

std::tm localTm(std::time_t t) {
    std::tm tm{};
    if (!localtime_r(&t, &tm)) fail(EOVERFLOW, "Reading the local time");
    return tm;
}

std::tm tmOf(const SystemTime& st) {
    std::tm tm{};
    tm.tm_year = st.wYear - 1900;
    tm.tm_mon = st.wMonth - 1;
    tm.tm_mday = st.wDay;
    tm.tm_hour = st.wHour;
    tm.tm_min = st.wMinute;
    tm.tm_sec = st.wSecond;
    return tm;
}

SystemTime systemTimeOf(const std::tm& tm, std::uint16_t milliseconds) {
    SystemTime st;
    st.wYear = std::uint16_t(tm.tm_year + 1900);
    st.wMonth = std::uint16_t(tm.tm_mon + 1);
    st.wDayOfWeek = std::uint16_t(tm.tm_wday);
    st.wDay = std::uint16_t(tm.tm_mday);
    st.wHour = std::uint16_t(tm.tm_hour);
    st.wMinute = std::uint16_t(tm.tm_min);
    st.wSecond = std::uint16_t(tm.tm_sec);
    st.wMilliseconds = milliseconds;
    return st;
}

timespec realNow() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts;
}

int realSet(const timespec& ts) {
    return clock_settime(CLOCK_REALTIME, &ts);
}

// The zone may have changed since the last call (the user moved it, /etc/localtime replaced).
void refreshZone() {
    tzset();
}

}  // namespace

long localOffsetAt(std::time_t utc) {
    return localTm(utc).tm_gmtoff;
}

std::time_t resolveLocalWall(std::time_t wall, const OffsetAt& offsetAt) {
    const long before = offsetAt(wall - 86400);
    const long candidates[] = {before, offsetAt(wall), offsetAt(wall + 86400)};
    bool found = false;
    std::time_t best = 0;
    for (long o : candidates) {
        const std::time_t t = wall - o;
        if (offsetAt(t) == o && (!found || t < best)) best = t, found = true;
    }
    return found ? best : wall - before;
}

namespace {

// The wall time `wall` (fields encoded as UTC) read with the offset `target` was made with,
// when that offset is in force there; otherwise the usual resolution. So a wall time in the
// hour that repeats stays in the pass the GPS instant is in.
std::time_t instantOfWall(std::time_t wall, const ZonedTime& target) {
    std::tm local = tmOf(target.local), utc = tmOf(target.utc);
    const long offset = long(timegm(&local) - timegm(&utc));
    if (localOffsetAt(wall - offset) == offset) return wall - offset;
    return resolveLocalWall(wall, localOffsetAt);
}

// The broken-down fields of `date`'s local date; Error(EINVAL) for a date that does not exist.
std::tm dateTm(const SystemTime& date) {
    if (date.wYear < 1 || date.wYear > 9999 ||
        !calendar::isValid(date.wYear, date.wMonth, date.wDay))
        fail(EINVAL, "Setting the clock");
    return tmOf(date);
}

}  // namespace

timespec localDateTarget(const timespec& now, const ZonedTime& target) {
    const std::tm date = dateTm(target.local);
    std::tm tm = localTm(now.tv_sec);
    tm.tm_year = date.tm_year;
    tm.tm_mon = date.tm_mon;
    tm.tm_mday = date.tm_mday;
    return {instantOfWall(timegm(&tm), target), now.tv_nsec};
}

timespec localTimeOfDayTarget(const timespec& now, const ZonedTime& target, DateChoice date) {
    const SystemTime& t = target.local;
    if (t.wHour > 23 || t.wMinute > 59 || t.wSecond > 59 || t.wMilliseconds > 999)
        fail(EINVAL, "Setting the clock");
    std::tm tm = date == DateChoice::Target ? dateTm(t) : localTm(now.tv_sec);
    tm.tm_hour = t.wHour;
    tm.tm_min = t.wMinute;
    tm.tm_sec = t.wSecond;
    const long ns = long(t.wMilliseconds) * 1'000'000;
    const std::time_t wall = timegm(&tm);
    std::time_t best = instantOfWall(wall, target);
    const auto away = [&](std::time_t s) {
        return std::abs(static_cast<long long>(s - now.tv_sec) * 1'000'000'000 + ns - now.tv_nsec);
    };
    // Two days either side, as a zone may skip a whole date (Samoa's 30 December 2011).
    if (date == DateChoice::Nearest)
        for (int days : {-2, -1, 1, 2})
            if (const std::time_t s = instantOfWall(wall + days * 86400, target);
                away(s) < away(best))
                best = s;
    return {best, ns};
}

LinuxSystemClock::LinuxSystemClock(Setter setter, Reader reader)
    : setter_(setter ? std::move(setter) : Setter(realSet)),
      reader_(reader ? std::move(reader) : Reader(realNow)) {}

SystemTime LinuxSystemClock::localNow() const {
    refreshZone();
    const timespec ts = reader_();
    return systemTimeOf(localTm(ts.tv_sec), std::uint16_t(ts.tv_nsec / 1000000));
}

SystemTime LinuxSystemClock::utcToLocal(const SystemTime& utc) const {
    refreshZone();
    std::tm tm = tmOf(utc);
    return systemTimeOf(localTm(timegm(&tm)), utc.wMilliseconds);
}

SystemTime LinuxSystemClock::utcNow() const {
    const timespec ts = reader_();
    std::tm tm{};
    if (!gmtime_r(&ts.tv_sec, &tm)) fail(EOVERFLOW, "Reading the clock");
    return systemTimeOf(tm, std::uint16_t(ts.tv_nsec / 1000000));
}

void LinuxSystemClock::setLocalDate(const ZonedTime& target) {
    refreshZone();
    set(localDateTarget(reader_(), target));
}

void LinuxSystemClock::setLocalTimeOfDay(const ZonedTime& target, DateChoice date) {
    refreshZone();
    set(localTimeOfDayTarget(reader_(), target, date));
}

void LinuxSystemClock::set(const timespec& target) {
    if (setter_(target) != 0) {
        throw systemError(errno, "Setting the clock");
    }
}

}  // namespace tidewell
