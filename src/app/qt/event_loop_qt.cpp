#include "app/qt/event_loop_qt.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include "app/qt/phase_locked_ticker.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace tidewell {

namespace {

// Stopped at once but deleted later, so a callback may drop its own registration.
template <class T> class Held : public EventLoop::Registration {
public:
    explicit Held(T* object) : object_(object) {}
    ~Held() override {
        if constexpr (std::is_same_v<T, QSocketNotifier>)
            object_->setEnabled(false);
        else
            object_->stop();
        object_->deleteLater();
    }

private:
    T* object_;
};

EventLoop::Token watch(NativeHandle handle, QSocketNotifier::Type type,
                       EventLoop::Callback onReady) {
    auto* notifier = new QSocketNotifier(qintptr(handle), type);
    QObject::connect(notifier, &QSocketNotifier::activated, std::move(onReady));
    return std::make_unique<Held<QSocketNotifier>>(notifier);
}

}  // namespace

namespace {
// A signal the program was started ignoring stays ignored: `nohup` ignores SIGHUP, a shell's
// background job SIGINT.
sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction inherited {};
        if (::sigaction(s, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) continue;
        sigaddset(&set, s);
    }
    return set;
}
}  // namespace

void QtEventLoop::takeStopSignals() {
    const sigset_t set = stopSignals();
    sigprocmask(SIG_BLOCK, &set, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

EventLoop::Token QtEventLoop::watchStopSignals(Callback onStop) {
    const sigset_t set = stopSignals();
    const int fd = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    return watchReadable(fd, [fd, onStop = std::move(onStop)] {
        signalfd_siginfo info{};
        if (::read(fd, &info, sizeof info) == sizeof info) onStop();
    });
}

EventLoop::Token QtEventLoop::watchReadable(NativeHandle handle, Callback onReady) {
    return watch(handle, QSocketNotifier::Read, std::move(onReady));
}

EventLoop::Token QtEventLoop::watchWritable(NativeHandle handle, Callback onReady) {
    return watch(handle, QSocketNotifier::Write, std::move(onReady));
}

EventLoop::Token QtEventLoop::everyPeriod(int periodMs, Callback onTick) {
    auto* ticker = new PhaseLockedTicker(periodMs);
    ticker->onTick = std::move(onTick);
    return std::make_unique<Held<PhaseLockedTicker>>(ticker);
}

EventLoop::Token QtEventLoop::after(int delayMs, Callback onTimeout) {
    auto* timer = new QTimer;
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, std::move(onTimeout));
    timer->start(delayMs);
    return std::make_unique<Held<QTimer>>(timer);
}

void QtEventLoop::quit(int status) {
    QCoreApplication::exit(status);
}

}  // namespace tidewell
