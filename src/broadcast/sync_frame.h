#pragma once
// The 35-character time sync frame sent to wall clocks.
#include <string>

namespace tidewell {

enum class SyncMode { Local, Utc };

struct FrameFields {
    int second = 0, minute = 0, hour = 0, day = 0, month = 0, year = 0;
};

inline constexpr std::size_t kSyncFrameLength = 35;

// "*" ss mm hh, then month and day (UTC) or day and month (local), yyyy, and one of four
// 20-character trailers. Battery save applies when `batterySave` (Check4's state) is not 0
// and the frame's hour is neither 2 nor 15. Throws Error(errors::InvalidDate) for a field
// outside its range, which would not fit its fixed width.
std::string buildSyncFrame(const FrameFields& fields, SyncMode mode, int batterySave);

}  // namespace tidewell
