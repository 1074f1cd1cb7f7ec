#include "devices/serial_port.h"

#include "devices/port_names.h"
#include "platform/error.h"

namespace tidewell {

LineSerialPort::LineSerialPort(PathForPort pathFor) : pathFor_(std::move(pathFor)) {}

void LineSerialPort::PortOpen(bool open) {
    // Whatever the user now asks for replaces the wait for a lost device to come back.
    deviceLost_ = false;
    if (open == PortOpen()) return;
    open ? this->open() : close();
}

void LineSerialPort::reopenLost() {
    if (!deviceLost_ || PortOpen()) return;
    open();
    deviceLost_ = false;
}

void LineSerialPort::open() {
    const std::string path = pathFor_ ? pathFor_(CommPort) : defaultDevicePath(CommPort);
    line_.open(path, portLabel(CommPort, path), 9600, SerialLine::Use::Send);
}

void LineSerialPort::close() {
    line_.close();
    unsent_.clear();
}

void LineSerialPort::Output(std::string_view data) {
    if (!PortOpen())
        throw Error(errors::PortClosed,
                    "Writing COM" + std::to_string(CommPort) + ": the port is not open");
    if (data.empty()) return;

    // The rest of a frame the line took in part goes first, so a display never reads a
    // fragment followed by a new frame. No size a terminal reports for its buffer can be
    // trusted for this (a pty's TIOCOUTQ stays 0 even when full).
    std::string joined;
    const std::size_t owed = unsent_.size();
    if (owed > 0) joined = unsent_ + std::string(data);
    const std::string_view out = owed > 0 ? std::string_view(joined) : data;

    std::size_t taken;
    try {
        taken = line_.write(out);
    } catch (const Error&) {
        close();
        deviceLost_ = true;
        throw;
    }
    // Waiting would hold up the clock and GPS handling: a frame that cannot start is dropped.
    if (taken <= owed) {
        unsent_.erase(0, taken);
        ++dropped_;
        return;
    }
    unsent_.assign(out.substr(taken));
}

}  // namespace tidewell
