#pragma once
// A 100 ms tick locked to the PC clock's whole seconds: it fires on every 100 ms boundary of
// the realtime clock, so the tick after each second boundary comes right at it. When the
// clock is stepped the kernel cancels the timer and the phase is locked again at once.
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

private:
    void arm();
    void fired();

    int fd_ = -1;
    long periodNs_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace tidewell
