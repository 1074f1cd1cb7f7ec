#pragma once
// The serial sync output on a POSIX terminal device: 9600 baud 8N1 raw, opened exclusively,
// written without ever blocking the event loop.
#include <functional>
#include <string>

#include "devices/serial_port.h"

namespace tidewell {

class PosixSerialPort : public SerialPort {
public:
    // Maps CommPort (1..8) to the device to open, e.g. devicePathFor with the user's overrides.
    using PathForPort = std::function<std::string(int)>;

    explicit PosixSerialPort(PathForPort pathFor);
    ~PosixSerialPort() override;
    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    bool PortOpen() const override { return fd_ >= 0; }
    bool deviceLost() const override { return deviceLost_; }
    // Errors carry errno: "Opening COM3 (/dev/ttyS2): No such file or directory"; a port
    // another program holds fails with EBUSY.
    void PortOpen(bool open) override;
    void reopenLost() override;
    // The device gets each write whole or not at all (full buffer, a display that stopped
    // reading): a write that cannot start is dropped and counted, and the rest of one it took
    // in part goes out before the next. A device error (EIO after an unplug) closes the port
    // and throws "Writing COM3 (/dev/ttyS2): Input/output error".
    void Output(std::string_view data) override;
    std::uint64_t droppedWrites() const override { return dropped_; }

private:
    void open();
    void close();

    PathForPort pathFor_;
    int fd_ = -1;
    std::string label_;
    std::string unsent_;  // the rest of a write the device took in part
    std::uint64_t dropped_ = 0;
    bool deviceLost_ = false;
};

}  // namespace tidewell
