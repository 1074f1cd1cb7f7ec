#include "devices/port_names.h"

namespace tidewell {

std::string defaultDevicePath(int portNumber) {
    if (portNumber < 1) return {};
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

}  // namespace tidewell
