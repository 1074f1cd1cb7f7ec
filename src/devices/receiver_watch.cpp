#include "devices/receiver_watch.h"

#include <chrono>

namespace tidewell {

ReceiverWatch::ReceiverWatch(NmeaReceiver& receiver, EventLoop& loop)
    : receiver_(receiver), loop_(loop) {}

void ReceiverWatch::follow() {
    ++follows_;
    token_.reset();
    pausing_ = false;
    if (receiver_.readHandle() >= 0)
        token_ = loop_.watchReadable(receiver_.readHandle(), [this] { read(); });
}

void ReceiverWatch::read() {
    const auto follows = follows_;
    receiver_.handleReadable();
    // A handler that reopened or closed the port has started afresh.
    if (follows_ != follows) return;
    const auto rest = receiver_.restOfSentence();
    if (rest > std::chrono::nanoseconds::zero() && receiver_.isOpen()) {
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(rest);
        token_ = loop_.after(int(ms.count()), [this] { read(); });
        pausing_ = true;
    } else if (pausing_) {
        follow();
    }
}

}  // namespace tidewell
