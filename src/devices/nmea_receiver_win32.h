#pragma once
// The GPS receiver on a Windows COM port ("\\.\COM3"), driven by the caller's event loop: an
// overlapped read is always pending while the port is open, readHandle() is its event, and
// each signal of it goes to handleReadable(). Error numbers are GetLastError values.
#include "devices/nmea_receiver.h"

namespace tidewell {

using WindowsNmeaReceiver = PortNmeaReceiver;

}  // namespace tidewell
