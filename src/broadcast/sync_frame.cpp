#include "broadcast/sync_frame.h"

#include <cstdio>

#include "platform/error.h"

namespace tidewell {

namespace {
constexpr const char* kTrailerUtc = "0000000001000000000#";
constexpr const char* kTrailerUtcSave = "0000000001001000000#";
constexpr const char* kTrailerLocal = "         1         #";
constexpr const char* kTrailerLocalSave = "         1  1      #";

bool inRange(int v, int lo, int hi) {
    return v >= lo && v <= hi;
}
}  // namespace

std::string buildSyncFrame(const FrameFields& f, SyncMode mode, int batterySave) {
    // A wider field would shift every later position, which a display cannot recover from.
    if (!inRange(f.second, 0, 59) || !inRange(f.minute, 0, 59) || !inRange(f.hour, 0, 23) ||
        !inRange(f.day, 1, 31) || !inRange(f.month, 1, 12) || !inRange(f.year, 0, 9999))
        throw Error(errors::InvalidDate, "Building the sync frame: clock reading out of range");

    const bool utc = mode == SyncMode::Utc;
    const int first = utc ? f.month : f.day;
    const int second = utc ? f.day : f.month;
    char buf[24];
    std::snprintf(buf, sizeof buf, "*%02d%02d%02d%02d%02d%04d", f.second, f.minute, f.hour, first,
                  second, f.year);

    const bool save = batterySave != 0 && f.hour != 2 && f.hour != 15;
    std::string frame(buf);
    frame +=
        utc ? (save ? kTrailerUtcSave : kTrailerUtc) : (save ? kTrailerLocalSave : kTrailerLocal);
    return frame;
}

}  // namespace tidewell
