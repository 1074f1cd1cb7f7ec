#include "app/lost_ports_posix.h"

namespace tidewell {

bool reopenLostPorts(const OrvaneSetTime& window, PosixNmeaReceiver& nmea,
                     PosixSerialPort& serial) {
    // Only the lists and check box say what the user still wants: turning serial sync off or
    // choosing "None" does not touch a port that is already closed.
    const std::string none = "None";
    try {
        if (nmea.deviceLost() && window.Combo1.Text() != none) nmea.OpenPort();
    } catch (const Error&) {
        // Still gone; the next call tries again.
    }
    try {
        if (serial.deviceLost() && window.Check2.Value() == 1 && window.Combo2.Text() != none) {
            serial.reopenLost();
            return true;
        }
    } catch (const Error&) {
    }
    return false;
}

}  // namespace tidewell
