#include "devices/port_names.h"

#include <windows.h>

#include "platform/error.h"

namespace tidewell {

// The device namespace form also reaches COM10 and above, which the bare name does not.
std::string defaultDevicePath(int portNumber) {
    if (portNumber < 1) return {};
    return "\\\\.\\COM" + std::to_string(portNumber);
}

// A COM port another program has open answers "access denied": Windows has no permission
// on serial ports to refuse.
std::string knownOpenFailure(int number) {
    using errors::fromSystem;
    if (number == fromSystem(ERROR_ACCESS_DENIED) || number == fromSystem(ERROR_SHARING_VIOLATION))
        return "busy: another program holds it";
    if (number == fromSystem(ERROR_FILE_NOT_FOUND) || number == fromSystem(ERROR_PATH_NOT_FOUND))
        return "no such device; waiting for it";
    return {};
}

}  // namespace tidewell
