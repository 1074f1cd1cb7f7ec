#pragma once
// Which device file a serial port number (COMn) means on this machine, and how error texts
// name it.
#include <map>
#include <string>

namespace tidewell {

// This platform's device for COMn: /dev/ttyS<n-1> on POSIX, \\.\COMn on Windows. Empty for
// n < 1, which names no port.
std::string defaultDevicePath(int portNumber);

// The device for COMn: the user's entry from the "Ports" section of the settings file
// (COM1=/dev/serial/by-id/...) when there is a non-empty one, otherwise the default.
std::string devicePathFor(int portNumber, const std::map<int, std::string>& overrides);

// "COM3 (/dev/ttyS2)"; just "COM3" when the path is empty.
std::string portLabel(int portNumber, const std::string& path);

class Error;
// Why a port did not open, in a user's words with what to do about it: "permission denied;
// add the user to the dialout group", "busy: another program holds it", "no such device;
// waiting for it"; else the system's own words.
std::string openFailureReason(const Error& e);
// The platform's part of it: its words for the error numbers it can name; empty for others.
std::string knownOpenFailure(int errorNumber);

}  // namespace tidewell
