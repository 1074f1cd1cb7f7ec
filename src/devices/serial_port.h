#pragma once
// The serial sync output component (9600 baud 8N1).
#include <cstdint>
#include <string_view>

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

}  // namespace tidewell
