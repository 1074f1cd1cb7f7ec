#pragma once
// SIGINT, SIGTERM and SIGHUP as events on the loop (a signalfd) instead of the end of the
// program. Those it was started ignoring stay ignored: `nohup` ignores SIGHUP, a shell's
// background job SIGINT.
namespace tidewell {

// Blocks the stop signals, and ignores SIGPIPE so that a reader that goes away (`| head -1`)
// costs the report, not the program. Call before any thread starts, so that every thread
// blocks them.
void takeStopSignals();
// A non-blocking descriptor that is readable while a stop signal waits; -1 (errno set) when
// none can be made.
int openStopSignals();
// Takes one waiting stop signal; true when there was one.
bool takeStopSignal(int fd);

}  // namespace tidewell
