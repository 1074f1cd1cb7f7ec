#include "app/linux/event_loop_linux.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "app/linux/phase_locked_timer_linux.h"
#include "app/linux/stop_signals_linux.h"

namespace tidewell {

namespace {
[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}
}  // namespace

struct LinuxEventLoop::Source {
    LinuxEventLoop* loop;  // null once it is no longer watched
    std::uint64_t id;
    int fd;
    bool owned;
    Callback onReady;

    void stop() {
        if (!loop) return;
        ::epoll_ctl(loop->epoll_, EPOLL_CTL_DEL, fd, nullptr);
        if (owned) ::close(fd);
        loop->sources_.erase(id);
        loop = nullptr;
    }
};

namespace {

// Stops its source at once; a callback that drops its own registration runs on, as the loop
// holds the source while it runs.
class Held : public EventLoop::Registration {
public:
    explicit Held(std::shared_ptr<LinuxEventLoop::Source> source) : source_(std::move(source)) {}
    ~Held() override { source_->stop(); }

private:
    std::shared_ptr<LinuxEventLoop::Source> source_;
};

}  // namespace

LinuxEventLoop::LinuxEventLoop() : epoll_(::epoll_create1(EPOLL_CLOEXEC)) {
    if (epoll_ < 0) fail("Creating the event loop");
}

LinuxEventLoop::~LinuxEventLoop() {
    while (!sources_.empty()) sources_.begin()->second->stop();
    ::close(epoll_);
}

EventLoop::Token LinuxEventLoop::add(int fd, std::uint32_t events, bool owned, Callback onReady) {
    auto source = std::make_shared<Source>(Source{this, ++lastId_, fd, owned, std::move(onReady)});
    epoll_event event{};
    event.events = events;
    event.data.u64 = source->id;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0) {
        // One descriptor is watched once; another watch of it goes through a duplicate.
        const int copy = errno == EEXIST ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
        if (copy < 0 || ::epoll_ctl(epoll_, EPOLL_CTL_ADD, copy, &event) != 0) {
            const int error = errno;
            if (copy >= 0) ::close(copy);
            if (owned) ::close(fd);
            errno = error;
            fail("Watching descriptor " + std::to_string(fd));
        }
        if (owned) ::close(fd);
        source->fd = copy;
        source->owned = true;
    }
    sources_.emplace(source->id, source);
    return std::make_unique<Held>(std::move(source));
}

EventLoop::Token LinuxEventLoop::watchReadable(NativeHandle handle, Callback onReady) {
    return add(int(handle), EPOLLIN, false, std::move(onReady));
}

EventLoop::Token LinuxEventLoop::watchWritable(NativeHandle handle, Callback onReady) {
    return add(int(handle), EPOLLOUT, false, std::move(onReady));
}

EventLoop::Token LinuxEventLoop::watchStopSignals(Callback onStop) {
    const int fd = openStopSignals();
    if (fd < 0) fail("Watching the stop signals");
    return add(fd, EPOLLIN, true, [fd, onStop = std::move(onStop)] {
        if (takeStopSignal(fd)) onStop();
    });
}

EventLoop::Token LinuxEventLoop::everyPeriod(int periodMs, Callback onTick) {
    auto timer = std::make_shared<PhaseLockedTimer>(periodMs);
    const int fd = timer->fd();
    return add(fd, EPOLLIN, false, [timer = std::move(timer), onTick = std::move(onTick)] {
        if (timer->expired()) onTick();
    });
}

EventLoop::Token LinuxEventLoop::after(int delayMs, Callback onTimeout) {
    const int fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd < 0) fail("Creating a timer");
    itimerspec spec{};
    // Zero would disarm it.
    const long long ns = delayMs > 0 ? delayMs * 1'000'000LL : 1;
    spec.it_value.tv_sec = time_t(ns / 1'000'000'000);
    spec.it_value.tv_nsec = long(ns % 1'000'000'000);
    if (::timerfd_settime(fd, 0, &spec, nullptr) != 0) {
        ::close(fd);
        fail("Arming a timer");
    }
    return add(fd, EPOLLIN, true, [fd, onTimeout = std::move(onTimeout)] {
        std::uint64_t expirations = 0;
        if (::read(fd, &expirations, sizeof expirations) == sizeof expirations) onTimeout();
    });
}

void LinuxEventLoop::quit(int status) {
    quitting_ = true;
    status_ = status;
}

int LinuxEventLoop::run() {
    epoll_event events[16];
    while (!quitting_) {
        const int n = ::epoll_wait(epoll_, events, std::size(events), -1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail("Waiting for events");
        for (int i = 0; i < n && !quitting_; ++i) {
            // A callback before it in this batch may have stopped it.
            const auto found = sources_.find(events[i].data.u64);
            if (found == sources_.end()) continue;
            const std::shared_ptr<Source> source = found->second;
            source->onReady();
        }
    }
    quitting_ = false;
    return status_;
}

}  // namespace tidewell
