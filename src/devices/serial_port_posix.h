#pragma once
// The serial sync output on a POSIX terminal device. Error numbers are errno values: EBUSY
// for a port another program holds, EIO when a write finds the device unplugged.
#include "devices/serial_port.h"

namespace tidewell {

using PosixSerialPort = LineSerialPort;

}  // namespace tidewell
