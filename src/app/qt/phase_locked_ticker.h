#pragma once
// A tick locked to the PC clock's whole seconds: it fires on every period boundary of the
// realtime clock (the period divides a second, or is one), so a tick comes right at each
// second boundary. When the clock is stepped the kernel cancels the timer and the phase is
// locked again at once.
#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace tidewell {

class PhaseLockedTicker : public QObject {
public:
    explicit PhaseLockedTicker(int periodMs, QObject* parent = nullptr);
    ~PhaseLockedTicker() override;

    std::function<void()> onTick;
    void stop() { notifier_->setEnabled(false); }

private:
    void arm();
    void fired();

    int fd_ = -1;
    long periodNs_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace tidewell
