#pragma once
// Which serial device the GPS receiver is on: listens to several devices at once, each with the
// program's own receiver and line-speed hunt, and tells per device what came. The portable scan
// is in port_scan.cpp; what it needs of the platform's devices in port_scan_linux.cpp and
// port_scan_win32.cpp.
#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "devices/nmea_decode.h"
#include "devices/nmea_receiver.h"

namespace tidewell::scan {

// One device to listen to: `path` is opened; `name`, shown and put in the settings lines, is a
// stable name where the device has one; `aside` follows it in parentheses ("ttyACM0").
struct Device {
    std::string path, name, aside;
};

struct Verdict {
    enum class Kind { Nmea, Noise, Nothing, Unusable };
    Kind kind = Kind::Nothing;
    int baud = 0;  // Nmea: the speed found
    bool validTime = false;
    std::string text;  // what the device's line says after its name
};

// A device that brings no byte in this time holds nothing; one that brings bytes is heard
// through every speed of the hunt, and a receiver found is heard a little longer for a valid
// time. No device is heard longer than kListenLimit, so the whole scan ends within kScanLimit.
inline constexpr std::chrono::seconds kSilence{4}, kAfterFound{3}, kListenLimit{18}, kScanLimit{20};

// Listens to every device at once and prints one line per device, in order, then what to put
// in the settings. The exit status: 0 when a receiver was found, 1 when none.
int runScan(const std::vector<Device>& devices, const DateWindow& dates, std::ostream& out);

// What the scan (and nmea-check --device) needs of this platform:

// The program's receiver for `path`, as its port COM1.
std::unique_ptr<PortNmeaReceiver> makeReceiver(const std::string& path, const DateWindow& dates);
// Waits up to `wait` for input on the open receiver; true when handleReadable has work.
bool waitForInput(const NmeaReceiver& receiver, std::chrono::milliseconds wait);
// Every serial device of this machine, each once. A port without hardware behind it is left out.
std::vector<Device> serialDevices();
// The devices the user named, each once (two names of one device are one), named as above.
std::vector<Device> namedDevices(const std::vector<std::string>& names);
// Why the device must not be opened (the system console, held exclusively), or empty.
std::string leaveAlone(const Device& device);
// Why the receiver could not open the device, for its user: the system's error number (errno
// or GetLastError) and the receiver's words.
std::string openFailure(const Device& device, int systemNumber, const std::string& words);
// The closing lines: how to make the program use the receivers found (none: say so).
std::string advice(const std::vector<std::pair<Device, Verdict>>& receivers);

}  // namespace tidewell::scan
