#include "devices/port_names.h"

#include <cerrno>

#include "platform/error.h"

namespace tidewell {

std::string defaultDevicePath(int portNumber) {
    if (portNumber < 1) return {};
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

std::string knownOpenFailure(int number) {
    using errors::fromSystem;
    if (number == fromSystem(EACCES) || number == fromSystem(EPERM))
        return "permission denied; add the user to the dialout group";
    if (number == fromSystem(EBUSY)) return "busy: another program holds it";
    if (number == fromSystem(ENOENT) || number == fromSystem(ENODEV) || number == fromSystem(ENXIO))
        return "no such device; waiting for it";
    return {};
}

}  // namespace tidewell
