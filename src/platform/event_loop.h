#pragma once
// The event loop the portable program runs on: Qt's on Linux, the message loop on Windows, a
// hand-driven one in tests. Callbacks run on the loop's one thread.
#include <cstdint>
#include <functional>
#include <memory>

namespace tidewell {

// A file descriptor on POSIX, a HANDLE on Windows.
using NativeHandle = std::intptr_t;

class EventLoop {
public:
    // Holds a watch or timer; destroying it stops it, also from inside its own callback.
    class Registration {
    public:
        virtual ~Registration() = default;
    };
    using Token = std::unique_ptr<Registration>;
    using Callback = std::function<void()>;

    virtual ~EventLoop() = default;

    virtual Token watchReadable(NativeHandle handle, Callback onReady) = 0;
    virtual Token watchWritable(NativeHandle handle, Callback onReady) = 0;
    // Ticks on the realtime clock's period boundaries (a period that divides a second, or is
    // one, ticks at each second boundary), locked again at once when the clock is stepped.
    virtual Token everyPeriod(int periodMs, Callback onTick) = 0;
    virtual Token after(int delayMs, Callback onTimeout) = 0;
    virtual void quit(int status) = 0;
};

}  // namespace tidewell
