#pragma once
// The GPS receiver on a POSIX tty (a serial device or a pseudo-terminal), driven by the
// caller's event loop: watch readFd() for input and call handleReadable().
#include <string>

#include "devices/nmea_receiver.h"

namespace tidewell {

class PosixNmeaReceiver : public PortNmeaReceiver {
public:
    using PortNmeaReceiver::PortNmeaReceiver;
    ~PosixNmeaReceiver() override;
    PosixNmeaReceiver(const PosixNmeaReceiver&) = delete;
    PosixNmeaReceiver& operator=(const PosixNmeaReceiver&) = delete;

    bool isOpen() const override { return fd_ >= 0; }
    NativeHandle readHandle() const override { return fd_; }
    int readFd() const { return fd_; }
    void handleReadable() override;

private:
    // Takes the device for itself (a second opener gets "Device or resource busy"), raw 8N1,
    // and drops input that was waiting from before. A terminal or a FIFO only: a file is
    // refused ("COM1 (rec.nmea) is not a serial device"). Error numbers are errno values.
    void openDevice(const std::string& path, const std::string& label, int baud) override;
    void closeDevice() override;

    int fd_ = -1;
};

}  // namespace tidewell
