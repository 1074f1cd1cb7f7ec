#pragma once
// The event loop on Linux: Qt's, with the broadcast and display ticks on timerfd so they fall
// on the realtime clock's boundaries.
#include "platform/event_loop.h"

namespace tidewell {

class QtEventLoop : public EventLoop {
public:
    // SIGINT, SIGTERM and SIGHUP come through the loop instead of ending the program (those it
    // was started ignoring stay ignored), and a
    // reader that goes away (`| head -1`) costs the report, not the program (SIGPIPE
    // ignored). Call before any thread starts, so that every thread blocks them.
    static void takeStopSignals();
    // Runs `onStop` for each stop signal; takeStopSignals() must have run.
    Token watchStopSignals(Callback onStop);

    Token watchReadable(NativeHandle handle, Callback onReady) override;
    Token watchWritable(NativeHandle handle, Callback onReady) override;
    Token everyPeriod(int periodMs, Callback onTick) override;
    Token after(int delayMs, Callback onTimeout) override;
    void quit(int status) override;
};

}  // namespace tidewell
