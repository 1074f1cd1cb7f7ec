#pragma once
// The loop thread at a low real-time priority, so frames leave on the second when other
// programs keep every core busy. Only where the process has the right; otherwise nothing changes.
#include <string>

namespace tidewell {

constexpr int kLoopPriority = 10;

// Puts the calling thread (Qt's other threads keep theirs) under SCHED_FIFO at kLoopPriority
// and locks the process's memory where that cannot make allocations fail. Returns the line
// that says what was granted.
std::string raiseLoopPriority();

}  // namespace tidewell
