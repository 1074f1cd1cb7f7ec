#include "app/qt/phase_locked_ticker.h"

namespace tidewell {

PhaseLockedTicker::PhaseLockedTicker(int periodMs, QObject* parent)
    : QObject(parent), timer_(periodMs),
      notifier_(std::make_unique<QSocketNotifier>(timer_.fd(), QSocketNotifier::Read)) {
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        if (timer_.expired() && onTick) onTick();
    });
}

}  // namespace tidewell
