#pragma once
// Where each second's sync frame goes: the serial sync port, then the UDP socket, each when it
// is on and due. A failure is an event; a failed UDP send also opens a box, except the
// transient 126, one box at a time.
#include <cstdint>
#include <string>

#include "app/program_events.h"
#include "devices/serial_port.h"
#include "devices/udp_socket.h"
#include "platform/shell.h"

namespace tidewell {

class FrameOutputs {
public:
    FrameOutputs(SerialPort& serial, UdpSocket& udp, Shell& shell, ProgramEvents& events)
        : serial_(serial), udp_(udp), shell_(shell), events_(events) {}

    void send(const std::string& frame, bool toSerial, bool toUdp);

    // Serial frames not written whole: refused or dropped while the display was not reading.
    std::uint64_t serialFailures() const { return serialFailures_; }

private:
    void sendSerial(const std::string& frame);
    void sendUdp(const std::string& frame);

    SerialPort& serial_;
    UdpSocket& udp_;
    Shell& shell_;
    ProgramEvents& events_;
    bool udpErrorOpen_ = false;
    std::uint64_t serialFailures_ = 0;
};

}  // namespace tidewell
