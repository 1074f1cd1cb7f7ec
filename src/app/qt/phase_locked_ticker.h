#pragma once
// The phase-locked timer (app/linux/phase_locked_timer_linux.h) on Qt's loop.
#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

#include "app/linux/phase_locked_timer_linux.h"

namespace tidewell {

class PhaseLockedTicker : public QObject {
public:
    explicit PhaseLockedTicker(int periodMs, QObject* parent = nullptr);

    std::function<void()> onTick;
    void stop() { notifier_->setEnabled(false); }

private:
    PhaseLockedTimer timer_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace tidewell
