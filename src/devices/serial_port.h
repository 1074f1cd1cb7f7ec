#pragma once
// The serial sync output component (9600 baud 8N1).
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "devices/serial_line.h"

namespace tidewell {

class SerialPort {
public:
    virtual ~SerialPort() = default;

    // 1..8 = COM1..COM8; takes effect at the next open.
    std::int16_t CommPort = 1;

    virtual bool PortOpen() const = 0;
    // true opens the port CommPort names, throwing Error when it is missing or busy (the port
    // then stays closed); false closes it. Assigning the current state does nothing.
    virtual void PortOpen(bool open) = 0;
    // True after a device error closed the port by itself (a display unplugged), until the
    // next PortOpen or a successful reopenLost.
    virtual bool deviceLost() const = 0;
    // Opens the lost device again, throwing as PortOpen does; a failure leaves it lost, to be
    // tried again later. Does nothing unless deviceLost().
    virtual void reopenLost() = 0;

    // Writes the bytes as they are, adding nothing, without ever blocking. The device gets
    // them whole or not at all: a write it cannot take is dropped and counted (droppedWrites).
    // Throws Error when the port is closed or has failed.
    virtual void Output(std::string_view data) = 0;
    virtual std::uint64_t droppedWrites() const = 0;
};

// The sync output on a serial line of the machine, held for this program alone.
class LineSerialPort : public SerialPort {
public:
    // Maps CommPort (1..8) to the device to open, e.g. devicePathFor with the user's overrides;
    // without one, defaultDevicePath.
    using PathForPort = std::function<std::string(int)>;

    explicit LineSerialPort(PathForPort pathFor);

    bool PortOpen() const override { return line_.isOpen(); }
    // Errors as SerialLine::open for Send: "Opening COM3 (/dev/ttyS2): No such file or
    // directory".
    void PortOpen(bool open) override;
    bool deviceLost() const override { return deviceLost_; }
    void reopenLost() override;
    // A write that cannot start (full buffer, a display that stopped reading, the last frame
    // still on its way) is dropped and counted, and the rest of one the line took in part goes
    // out before the next. A device error (an unplug) closes the port and throws "Writing COM3
    // (/dev/ttyS2): Input/output error".
    void Output(std::string_view data) override;
    std::uint64_t droppedWrites() const override { return dropped_; }

private:
    void open();
    void close();

    PathForPort pathFor_;
    SerialLine line_;
    std::string unsent_;  // the rest of a write the line took in part
    std::uint64_t dropped_ = 0;
    bool deviceLost_ = false;
};

}  // namespace tidewell
