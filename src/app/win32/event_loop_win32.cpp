#include "app/win32/event_loop_win32.h"

#include <algorithm>
#include <stdexcept>
#include <system_error>

namespace tidewell {

namespace {

// Not in every SDK's headers; Windows 10 1803 and later know it.
constexpr DWORD kHighResolutionTimer = 0x00000002;

constexpr long long kTicksPerMs = 10'000;  // FILETIME counts 100 ns

long long preciseNow() {
    FILETIME now;
    ::GetSystemTimePreciseAsFileTime(&now);
    return (static_cast<long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// The next period boundary strictly after `now`. Whole seconds since 1601 are whole seconds
// since 1970 too, so a period that divides a second lands on the second boundaries.
long long nextBoundary(long long now, long long period) {
    return (now / period + 1) * period;
}

}  // namespace

struct WindowsEventLoop::Entry {
    enum class Kind { Watch, Period, Once };

    Kind kind;
    HANDLE handle;  // the watched handle, or the entry's own timer
    Callback callback;
    long long period = 0;  // Period: in FILETIME ticks
    long long due = 0;     // Period: the boundary waited for, as a FILETIME
    bool highResolution = false;
    bool active = true;

    Entry(Kind k, HANDLE h, Callback c) : kind(k), handle(h), callback(std::move(c)) {}
    ~Entry() {
        if (kind != Kind::Watch) ::CloseHandle(handle);
    }
};

namespace {

// Stops its entry at once; the loop lets go of it before its next wait. The entry outlives a
// callback that drops its own registration, as the loop holds it while dispatching.
class Held : public EventLoop::Registration {
public:
    explicit Held(std::shared_ptr<WindowsEventLoop::Entry> entry) : entry_(std::move(entry)) {}
    ~Held() override;

private:
    std::shared_ptr<WindowsEventLoop::Entry> entry_;
};

}  // namespace

Held::~Held() {
    entry_->active = false;
    if (entry_->kind != WindowsEventLoop::Entry::Kind::Watch) ::CancelWaitableTimer(entry_->handle);
}

WindowsEventLoop::WindowsEventLoop() = default;
WindowsEventLoop::~WindowsEventLoop() = default;

EventLoop::Token WindowsEventLoop::add(std::shared_ptr<Entry> entry) {
    const auto live =
        std::count_if(entries_.begin(), entries_.end(), [](const auto& e) { return e->active; });
    if (std::size_t(live) >= kMaxHandles)
        throw std::length_error("The event loop waits for at most 62 handles and timers");
    entries_.push_back(entry);
    return std::make_unique<Held>(std::move(entry));
}

EventLoop::Token WindowsEventLoop::watchReadable(NativeHandle handle, Callback onReady) {
    return add(std::make_shared<Entry>(Entry::Kind::Watch, reinterpret_cast<HANDLE>(handle),
                                       std::move(onReady)));
}

EventLoop::Token WindowsEventLoop::watchWritable(NativeHandle handle, Callback onReady) {
    return watchReadable(handle, std::move(onReady));
}

HANDLE WindowsEventLoop::newTimer() {
    // The normal kind wakes on the system's 15.6 ms clock tick: too coarse for frames that
    // should leave within a millisecond or two of their second.
    HANDLE timer =
        highResolution_
            ? ::CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimer, TIMER_ALL_ACCESS)
            : nullptr;
    if (!timer) {
        highResolution_ = false;
        timer = ::CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    }
    if (!timer)
        throw std::system_error(int(::GetLastError()), std::system_category(),
                                "Creating a waitable timer");
    return timer;
}

// A periodic timer of the high-resolution kind waits relative to now, as that kind takes no
// absolute due time, and is re-armed from the realtime clock at every tick, so a step of the
// clock is followed from the next tick on. The normal kind waits for the absolute boundary,
// which Windows moves with the clock.
void WindowsEventLoop::arm(Entry& entry) {
    for (;;) {
        LARGE_INTEGER due;
        due.QuadPart = entry.highResolution ? -std::max(1LL, entry.due - preciseNow()) : entry.due;
        if (::SetWaitableTimer(entry.handle, &due, 0, nullptr, nullptr, FALSE)) return;
        if (!entry.highResolution)
            throw std::system_error(int(::GetLastError()), std::system_category(),
                                    "Setting a waitable timer");
        // Refused (some Windows 10 builds create the kind but refuse to set it): the normal
        // kind from now on.
        highResolution_ = false;
        ::CloseHandle(entry.handle);
        entry.handle = newTimer();
        entry.highResolution = false;
    }
}

EventLoop::Token WindowsEventLoop::everyPeriod(int periodMs, Callback onTick) {
    auto entry = std::make_shared<Entry>(Entry::Kind::Period, newTimer(), std::move(onTick));
    entry->highResolution = highResolution_;
    entry->period = std::max(1, periodMs) * kTicksPerMs;
    entry->due = nextBoundary(preciseNow(), entry->period);
    arm(*entry);
    return add(std::move(entry));
}

EventLoop::Token WindowsEventLoop::after(int delayMs, Callback onTimeout) {
    auto entry = std::make_shared<Entry>(Entry::Kind::Once, newTimer(), std::move(onTimeout));
    // Relative, so a clock step neither hastens nor delays it.
    LARGE_INTEGER due;
    due.QuadPart = -std::max(1LL, delayMs * kTicksPerMs);
    if (!::SetWaitableTimer(entry->handle, &due, 0, nullptr, nullptr, FALSE))
        throw std::system_error(int(::GetLastError()), std::system_category(),
                                "Setting a waitable timer");
    return add(std::move(entry));
}

void WindowsEventLoop::quit(int status) {
    quitting_ = true;
    status_ = status;
}

void WindowsEventLoop::fire(Entry& entry) {
    if (entry.kind == Entry::Kind::Once) entry.active = false;
    if (entry.kind == Entry::Kind::Period) {
        const long long now = preciseNow();
        // Short of the boundary by the realtime clock (it was set back, or the relative wait
        // ran short of it): wait on without a tick, which would still see the old second.
        const bool reached = now >= entry.due;
        // A late wake-up gives one tick, not one per boundary missed.
        entry.due = nextBoundary(now, entry.period);
        arm(entry);
        if (!reached) return;
    }
    entry.callback();
}

void WindowsEventLoop::snapshot(std::vector<std::shared_ptr<Entry>>& waiting,
                                std::vector<HANDLE>& handles) {
    std::erase_if(entries_, [](const auto& e) { return !e->active; });
    // Timers first: a wait resets them, so a watched handle left signalled cannot starve them
    // (the lowest signalled index wins).
    waiting.clear();
    for (const bool timers : {true, false})
        for (const auto& e : entries_)
            if ((e->kind != Entry::Kind::Watch) == timers) waiting.push_back(e);
    handles.clear();
    for (const auto& e : waiting) handles.push_back(e->handle);
}

// A watched handle was closed under its watch: drop it instead of spinning.
void WindowsEventLoop::dropClosedWatches(const std::vector<std::shared_ptr<Entry>>& waiting,
                                         DWORD error) {
    bool dropped = false;
    for (const auto& e : waiting)
        if (e->kind == Entry::Kind::Watch && ::WaitForSingleObject(e->handle, 0) == WAIT_FAILED)
            e->active = false, dropped = true;
    if (!dropped) throw std::system_error(int(error), std::system_category(), "Waiting for events");
}

int WindowsEventLoop::run() {
    std::vector<std::shared_ptr<Entry>> waiting;
    std::vector<HANDLE> handles;
    while (!quitting_) {
        snapshot(waiting, handles);
        const DWORD count = DWORD(handles.size());
        const DWORD r = ::MsgWaitForMultipleObjectsEx(count, handles.data(), INFINITE, QS_ALLINPUT,
                                                      MWMO_ALERTABLE | MWMO_INPUTAVAILABLE);
        if (r < WAIT_OBJECT_0 + count) {
            if (const auto entry = waiting[r - WAIT_OBJECT_0]; entry->active) fire(*entry);
        } else if (r == WAIT_OBJECT_0 + count) {
            MSG msg;
            while (!quitting_ && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) {
                    quit(int(msg.wParam));
                } else if (!messageFilter || !messageFilter(msg)) {
                    ::TranslateMessage(&msg);
                    ::DispatchMessageW(&msg);
                }
            }
        } else if (r == WAIT_FAILED) {
            dropClosedWatches(waiting, ::GetLastError());
        }
        // WAIT_IO_COMPLETION: completion routines ran inside the wait; nothing else to do.
    }
    return status_;
}

struct WindowsEventLoop::Modal : EventLoop::Registration {
    static constexpr UINT kWake = WM_APP + 1;
    static constexpr WPARAM kFailed = ~WPARAM(0);

    WindowsEventLoop& loop;
    HWND window = nullptr;  // message-only, on the loop's thread, which the modal loop serves
    HANDLE stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE resume = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    // Read by the waiter only between a resume and its next post.
    std::vector<std::shared_ptr<Entry>> waiting;
    std::vector<HANDLE> handles;  // stop, then the entries' handles
    std::thread waiter;

    explicit Modal(WindowsEventLoop& l) : loop(l) {
        static const wchar_t* const windowClass = [] {
            WNDCLASSW wc{};
            wc.lpfnWndProc = proc;
            wc.hInstance = ::GetModuleHandleW(nullptr);
            wc.lpszClassName = L"TidewellModalWake";
            ::RegisterClassW(&wc);
            return wc.lpszClassName;
        }();
        window = ::CreateWindowExW(0, windowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   ::GetModuleHandleW(nullptr), nullptr);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        rebuild();
        loop.modal_ = this;
        waiter = std::thread([this] { wait(); });
    }
    ~Modal() override {
        ::SetEvent(stop);
        waiter.join();
        loop.modal_ = nullptr;
        ::DestroyWindow(window);  // a wake-up still queued goes with it
        ::CloseHandle(stop), ::CloseHandle(resume);
    }

    void rebuild() {
        loop.snapshot(waiting, handles);
        handles.insert(handles.begin(), stop);
    }

    // The waiter's thread: one wake-up posted at a time, so a manual-reset event is consumed
    // by its callback before it is waited on again.
    void wait() {
        for (;;) {
            const DWORD r =
                ::WaitForMultipleObjects(DWORD(handles.size()), handles.data(), FALSE, INFINITE);
            if (r == WAIT_OBJECT_0) return;
            ::PostMessageW(window, kWake, r == WAIT_FAILED ? kFailed : r - WAIT_OBJECT_0 - 1,
                           LPARAM(r == WAIT_FAILED ? ::GetLastError() : 0));
            const HANDLE next[] = {stop, resume};
            if (::WaitForMultipleObjects(2, next, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return;
        }
    }

    static LRESULT CALLBACK proc(HWND hwnd, UINT message, WPARAM index, LPARAM error) {
        if (message != kWake) return ::DefWindowProcW(hwnd, message, index, error);
        auto* modal = reinterpret_cast<Modal*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (index == kFailed)
            modal->loop.dropClosedWatches(modal->waiting, DWORD(error));
        else if (const auto entry = modal->waiting[index]; entry->active)
            modal->loop.fire(*entry);
        modal->rebuild();
        ::SetEvent(modal->resume);
        return 0;
    }
};

EventLoop::Token WindowsEventLoop::serveWhileModal() {
    if (modal_) return std::make_unique<Registration>();
    return std::make_unique<Modal>(*this);
}

namespace {

HANDLE consoleStop = nullptr;

BOOL WINAPI onConsoleEvent(DWORD type) {
    ::SetEvent(consoleStop);
    // After a close, log-off or shut-down event the system ends the process as soon as this
    // returns: wait, so the loop stops cleanly; returning from main ends this thread too.
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT)
        ::Sleep(5000);
    return TRUE;
}

class ConsoleStop : public EventLoop::Registration {
public:
    EventLoop::Token watch;
    ~ConsoleStop() override { ::SetConsoleCtrlHandler(onConsoleEvent, FALSE); }
};

}  // namespace

EventLoop::Token WindowsEventLoop::watchConsoleStop(Callback onStop) {
    if (!consoleStop) consoleStop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto stop = std::make_unique<ConsoleStop>();
    stop->watch =
        watchReadable(reinterpret_cast<NativeHandle>(consoleStop), [onStop = std::move(onStop)] {
            ::ResetEvent(consoleStop);
            onStop();
        });
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    return stop;
}

}  // namespace tidewell
