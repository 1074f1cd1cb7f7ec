#pragma once
// The loop thread at time-critical priority, so frames leave on the second when other programs
// keep every core busy.
#include <string>

namespace tidewell {

// Raises the calling thread alone (the frames' timer and sockets are all on it). Returns the
// line that says what was granted.
std::string raiseLoopPriority();

}  // namespace tidewell
