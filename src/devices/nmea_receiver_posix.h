#pragma once
// The GPS receiver on a POSIX tty (a serial device or a pseudo-terminal) or a FIFO, driven by
// the caller's event loop: watch readFd() for input and call handleReadable(). Error numbers
// are errno values.
#include "devices/nmea_receiver.h"

namespace tidewell {

class PosixNmeaReceiver : public PortNmeaReceiver {
public:
    using PortNmeaReceiver::PortNmeaReceiver;
    int readFd() const { return static_cast<int>(readHandle()); }
};

}  // namespace tidewell
