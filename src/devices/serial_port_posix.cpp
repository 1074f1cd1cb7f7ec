#include "devices/serial_port_posix.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "devices/port_names.h"
#include "platform/error.h"

namespace tidewell {

namespace {}  // namespace

PosixSerialPort::PosixSerialPort(PathForPort pathFor) : pathFor_(std::move(pathFor)) {}

PosixSerialPort::~PosixSerialPort() {
    close();
}

void PosixSerialPort::PortOpen(bool open) {
    // Whatever the user now asks for replaces the wait for a lost device to come back.
    deviceLost_ = false;
    if (open == PortOpen()) return;
    open ? this->open() : close();
}

void PosixSerialPort::reopenLost() {
    if (!deviceLost_ || fd_ >= 0) return;
    open();
    deviceLost_ = false;
}

void PosixSerialPort::open() {
    const std::string path = pathFor_ ? pathFor_(CommPort) : defaultDevicePath(CommPort);
    const std::string label = portLabel(CommPort, path);
    if (path.empty()) throw systemError(ENOENT, "Opening " + label);

    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw systemError(errno, "Opening " + label);

    auto fail = [&](int number) {
        ::close(fd);
        return systemError(number, "Opening " + label);
    };
    // flock also holds against root, whom TIOCEXCL lets through.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) throw fail(errno == EWOULDBLOCK ? EBUSY : errno);

    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) throw fail(errno);
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | CRTSCTS | PARENB);
    tio.c_cflag |= CLOCAL | CREAD | CS8;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, B9600) != 0 || ::cfsetospeed(&tio, B9600) != 0) throw fail(errno);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) throw fail(errno);
    if (::ioctl(fd, TIOCEXCL) != 0) throw fail(errno);

    fd_ = fd;
    label_ = label;
}

void PosixSerialPort::close() {
    if (fd_ < 0) return;
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
    unsent_.clear();
}

void PosixSerialPort::Output(std::string_view data) {
    if (fd_ < 0)
        throw Error(errors::PortClosed,
                    "Writing COM" + std::to_string(CommPort) + ": the port is not open");
    if (data.empty()) return;

    // The rest of a frame the device took in part goes first, so a display never reads a
    // fragment followed by a new frame. No size a terminal reports for its buffer can be
    // trusted for this (a pty's TIOCOUTQ stays 0 even when full).
    std::string joined;
    const std::size_t owed = unsent_.size();
    if (owed > 0) joined = unsent_ + std::string(data);
    const std::string_view out = owed > 0 ? std::string_view(joined) : data;

    ssize_t written;
    do {
        written = ::write(fd_, out.data(), out.size());
    } while (written < 0 && errno == EINTR);
    if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        const int number = errno;
        const std::string label = label_;
        close();
        deviceLost_ = true;
        throw systemError(number, "Writing " + label);
    }

    // Waiting would hold up the clock and GPS handling: a frame that cannot start is dropped.
    const auto taken = static_cast<std::size_t>(std::max<ssize_t>(written, 0));
    if (taken <= owed) {
        unsent_.erase(0, taken);
        ++dropped_;
        return;
    }
    unsent_.assign(out.substr(taken));
}

}  // namespace tidewell
