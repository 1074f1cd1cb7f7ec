#pragma once
// The event loop on Linux: Qt's, with the broadcast and display ticks on timerfd so they fall
// on the realtime clock's boundaries.
#include "platform/event_loop.h"

namespace tidewell {

class QtEventLoop : public EventLoop {
public:
    Token watchReadable(NativeHandle handle, Callback onReady) override;
    Token watchWritable(NativeHandle handle, Callback onReady) override;
    Token everyPeriod(int periodMs, Callback onTick) override;
    Token after(int delayMs, Callback onTimeout) override;
    void quit(int status) override;
};

}  // namespace tidewell
