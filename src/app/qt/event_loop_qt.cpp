#include "app/qt/event_loop_qt.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include "app/linux/stop_signals_linux.h"
#include "app/qt/phase_locked_ticker.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

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

void QtEventLoop::takeStopSignals() {
    tidewell::takeStopSignals();
}

EventLoop::Token QtEventLoop::watchStopSignals(Callback onStop) {
    const int fd = openStopSignals();
    if (fd < 0)
        throw std::runtime_error(std::string("Watching the stop signals: ") + std::strerror(errno));
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, [fd, onStop = std::move(onStop)] {
        if (takeStopSignal(fd)) onStop();
    });
    // The descriptor goes with the notifier.
    QObject::connect(notifier, &QObject::destroyed, [fd] { ::close(fd); });
    return std::make_unique<Held<QSocketNotifier>>(notifier);
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
