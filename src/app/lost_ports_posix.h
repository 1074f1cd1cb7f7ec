#pragma once
// Opening an unplugged receiver or display again once it is back, so a long-running program
// does not need the user to pick its port again.
#include "app/orvane_set_time.h"
#include "devices/nmea_receiver_posix.h"
#include "devices/serial_port_posix.h"

namespace tidewell {

// One try at each lost port that the window still has chosen and switched on; a port still
// gone is tried again at the next call. True when the serial sync port opened again (the
// receiver reports its own opening through PortStateChanged).
bool reopenLostPorts(const OrvaneSetTime& window, PosixNmeaReceiver& nmea, PosixSerialPort& serial);

}  // namespace tidewell
