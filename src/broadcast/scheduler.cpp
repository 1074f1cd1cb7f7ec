#include "broadcast/scheduler.h"

#include <cstdio>

#include "gps/date_value.h"

namespace tidewell {

namespace {
std::string twoDigits(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02u", v % 100);
    return buf;
}

FrameFields utcFieldsOf(const SystemTime& local, const SystemClock& clock) {
    DateValue localValue = 0;
    SystemTimeToDate(local, localValue);
    SystemTime st{};
    DateToSystemTime(localValue, st);
    st = clock.localToUtc(st);
    DateValue utcValue = 0;
    SystemTimeToDate(st, utcValue);
    const DateParts p = datePartsOf(utcValue);
    return {p.second, p.minute, p.hour, p.day, p.month, p.year};
}
}  // namespace

bool rateDue(const RateCode& code, const std::string& minuteText, const std::string& hourText,
             const std::string& dayText, std::string& mark) {
    const int c = code.value_or(0);
    const std::string* text = nullptr;
    switch (c) {
    case 0:
        return true;
    case 1:
        text = &minuteText;
        break;
    case 2:
        text = &hourText;
        break;
    case 3:
        text = &dayText;
        break;
    default:
        return false;
    }
    if (*text == mark) return false;
    mark = *text;
    return true;
}

BroadcastScheduler::Tick BroadcastScheduler::tick(const Settings& settings) {
    const SystemTime now = clock_.localNow();
    const std::string secondsText = twoDigits(now.wSecond);
    if (secondsText == lastTickSecond_) return {};
    lastTickSecond_ = secondsText;

    const bool utc = settings.syncUsesUtc.value_or(false);
    const FrameFields fields =
        utc ? utcFieldsOf(now, clock_)
            : FrameFields{now.wSecond, now.wMinute, now.wHour, now.wDay, now.wMonth, now.wYear};
    currentSyncFrame_ =
        buildSyncFrame(fields, utc ? SyncMode::Utc : SyncMode::Local, settings.batterySave);

    const std::string minuteText = twoDigits(now.wMinute);
    const std::string hourText = twoDigits(now.wHour);
    const std::string dayText = twoDigits(now.wDay);
    Tick t;
    t.newSecond = true;
    t.serialDue = rateDue(settings.serialRate, minuteText, hourText, dayText, serialRateMark_);
    t.udpDue = rateDue(settings.udpRate, minuteText, hourText, dayText, udpRateMark_);
    return t;
}

}  // namespace tidewell
