#pragma once
// The event loop on Windows: one thread waiting in MsgWaitForMultipleObjectsEx on the watched
// handles and one waitable timer per timer, dispatching window messages and running APCs
// (overlapped completion routines) in between.
#include <windows.h>

#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "platform/event_loop.h"

namespace tidewell {

class WindowsEventLoop : public EventLoop {
public:
    // Handles one wait can take besides the message queue.
    static constexpr std::size_t kMaxHandles = MAXIMUM_WAIT_OBJECTS - 1;

    WindowsEventLoop();
    ~WindowsEventLoop() override;
    WindowsEventLoop(const WindowsEventLoop&) = delete;
    WindowsEventLoop& operator=(const WindowsEventLoop&) = delete;

    // A watched handle must stay open while it is watched. The callback must consume the
    // signal (complete the I/O and start the next, or reset the event), or it runs again at
    // once. Throws std::length_error beyond kMaxHandles watches and timers together.
    Token watchReadable(NativeHandle handle, Callback onReady) override;
    Token watchWritable(NativeHandle handle, Callback onReady) override;
    Token everyPeriod(int periodMs, Callback onTick) override;
    Token after(int delayMs, Callback onTimeout) override;
    void quit(int status) override;

    // Runs until quit() or WM_QUIT; returns the status.
    int run();

    // Sees every message before it is translated and dispatched; true when it took the
    // message (a dialog's IsDialogMessage).
    std::function<bool(MSG&)> messageFilter;

    // Ctrl+C, Ctrl+Break and closing the console run `onStop` on this loop. The system calls
    // console handlers on a thread of their own, so they only signal an event watched here.
    Token watchConsoleStop(Callback onStop);

    // While held, a modal loop of the system's (a message box) serves the watches and timers
    // in place of run(): a thread waits on their handles and posts each wake-up to this
    // thread, where the callbacks run as under run(). Nothing while another is held.
    Token serveWhileModal();

    // Whether the periodic timers got the high-resolution kind (false where it is refused).
    bool highResolutionTimers() const { return highResolution_; }

    struct Entry;
    struct Modal;

private:
    Token add(std::shared_ptr<Entry> entry);
    // The live entries, timers first, and their handles in the same order.
    void snapshot(std::vector<std::shared_ptr<Entry>>& waiting, std::vector<HANDLE>& handles);
    void dropClosedWatches(const std::vector<std::shared_ptr<Entry>>& waiting, DWORD error);
    HANDLE newTimer();
    void arm(Entry& entry);
    void fire(Entry& entry);

    std::vector<std::shared_ptr<Entry>> entries_;
    bool highResolution_ = true;
    Modal* modal_ = nullptr;
    bool quitting_ = false;
    int status_ = 0;
};

}  // namespace tidewell
