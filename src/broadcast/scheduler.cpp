#include "broadcast/scheduler.h"

#include <cstdio>

namespace tidewell {

namespace {
std::string twoDigits(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02u", v % 100);
    return buf;
}

FrameFields fieldsOf(const SystemTime& t) {
    return {t.wSecond, t.wMinute, t.wHour, t.wDay, t.wMonth, t.wYear};
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
    // One reading serves both modes, so the UTC fields and the local rate marks belong to the
    // same instant; UTC is never rebuilt from a local reading, which is ambiguous once a year.
    const SystemTime utcNow = clock_.utcNow();
    const SystemTime now = clock_.utcToLocal(utcNow);
    const std::string secondsText = twoDigits(now.wSecond);
    if (secondsText == lastTickSecond_) return {};
    lastTickSecond_ = secondsText;

    const bool utc = settings.syncUsesUtc.value_or(false);
    currentSyncFrame_ = buildSyncFrame(fieldsOf(utc ? utcNow : now),
                                       utc ? SyncMode::Utc : SyncMode::Local, settings.batterySave);

    const std::string minuteText = twoDigits(now.wMinute);
    const std::string hourText = twoDigits(now.wHour);
    const std::string dayText = twoDigits(now.wDay);
    Tick t;
    t.newSecond = true;
    t.frame = currentSyncFrame_;
    t.serialDue = rateDue(settings.serialRate, minuteText, hourText, dayText, serialRateMark_);
    t.udpDue = rateDue(settings.udpRate, minuteText, hourText, dayText, udpRateMark_);
    return t;
}

}  // namespace tidewell
