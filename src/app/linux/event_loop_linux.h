#pragma once
// The event loop on Linux without Qt, for the program without a window: one thread in
// epoll_wait on the watched descriptors, a timerfd for each timer (the periodic ones locked
// to the realtime clock's boundaries) and a signalfd for the stop signals.
#include <cstdint>
#include <memory>
#include <unordered_map>

#include "platform/event_loop.h"

namespace tidewell {

class LinuxEventLoop : public EventLoop {
public:
    // Throws std::runtime_error with the system's words when epoll cannot be had.
    LinuxEventLoop();
    ~LinuxEventLoop() override;
    LinuxEventLoop(const LinuxEventLoop&) = delete;
    LinuxEventLoop& operator=(const LinuxEventLoop&) = delete;

    // Runs `onStop` for each stop signal (stop_signals_linux.h); takeStopSignals() must have
    // run.
    Token watchStopSignals(Callback onStop);

    // A watched descriptor must stay open while it is watched. A hang-up or error counts as
    // ready, so the callback finds out by reading or writing.
    Token watchReadable(NativeHandle handle, Callback onReady) override;
    Token watchWritable(NativeHandle handle, Callback onReady) override;
    Token everyPeriod(int periodMs, Callback onTick) override;
    Token after(int delayMs, Callback onTimeout) override;
    void quit(int status) override;

    // Runs until quit(), also one called before it; returns the status.
    int run();

    struct Source;

private:
    // Watches `fd` for `events` (a second watch of one descriptor watches a duplicate of it);
    // `owned` is closed with the watch.
    Token add(int fd, std::uint32_t events, bool owned, Callback onReady);

    int epoll_ = -1;
    std::unordered_map<std::uint64_t, std::shared_ptr<Source>> sources_;
    std::uint64_t lastId_ = 0;
    bool quitting_ = false;
    int status_ = 0;
};

}  // namespace tidewell
