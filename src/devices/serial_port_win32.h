#pragma once
// The serial sync output on a Windows COM port ("\\.\COM3"), written with overlapped I/O.
// Error numbers are GetLastError values: ERROR_BUSY for a port another program holds.
#include "devices/serial_port.h"

namespace tidewell {

using WindowsSerialPort = LineSerialPort;

}  // namespace tidewell
