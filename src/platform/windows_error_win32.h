#pragma once
// Win32 and Winsock failures as the program reports them: the number mapped clear of the
// numbers the program tests for, and the system's own words.
#include <string>

#include "platform/error.h"

namespace tidewell {

// FormatMessage's text for a GetLastError or WSAGetLastError number, without the line end;
// "system error 1234" when the system has no text for it.
std::string windowsErrorText(unsigned long number);

// "Opening COM3 (\\.\COM3): The system cannot find the file specified."
Error windowsError(unsigned long number, const std::string& what);

}  // namespace tidewell
