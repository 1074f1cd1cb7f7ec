#include "devices/port_names.h"

namespace tidewell {

// The device namespace form also reaches COM10 and above, which the bare name does not.
std::string defaultDevicePath(int portNumber) {
    if (portNumber < 1) return {};
    return "\\\\.\\COM" + std::to_string(portNumber);
}

}  // namespace tidewell
