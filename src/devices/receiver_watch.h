#pragma once
// Reads the GPS receiver when the event loop says its line has input, once a sentence rather
// than once a byte, as a UART hands the bytes over one by one: a read that ends within a
// sentence is followed by a pause as long as the rest takes at the line's speed, and the next
// read takes the rest at once. After a quiet line a sentence's first byte still wakes the
// loop by itself, so its stamp is the time it came; bytes read later in one go are back-dated
// by their character time, as in any read.
#include <cstdint>

#include "devices/nmea_receiver.h"
#include "platform/event_loop.h"

namespace tidewell {

class ReceiverWatch {
public:
    // Watches nothing until follow().
    ReceiverWatch(NmeaReceiver& receiver, EventLoop& loop);

    // Watches the receiver's handle as it is now, from a quiet start: call after every open
    // and close of its port.
    void follow();

private:
    void read();

    NmeaReceiver& receiver_;
    EventLoop& loop_;
    EventLoop::Token token_;  // the handle's watch, or the pause
    bool pausing_ = false;
    std::uint64_t follows_ = 0;
};

}  // namespace tidewell
