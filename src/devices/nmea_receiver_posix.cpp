#include "devices/nmea_receiver_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "platform/error.h"

namespace tidewell {

namespace {

// Enough for a burst, yet the event loop gets control back under a flood.
constexpr int kMaxReadsPerCall = 64;

std::optional<speed_t> speedOf(int baud) {
    switch (baud) {
    case 4800:
        return B4800;
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return std::nullopt;
    }
}

}  // namespace

PosixNmeaReceiver::~PosixNmeaReceiver() {
    closeDevice();
}

void PosixNmeaReceiver::openDevice(const std::string& path, const std::string& label, int baud) {
    const auto speed = speedOf(baud);
    if (!speed) throw Error(errors::InvalidPropertyValue, label + ": unsupported baud rate");
    const auto fail = [&](int fd, int number) {
        if (fd >= 0) ::close(fd);
        throw systemError(number, "Opening " + label);
    };
    // A recording's end would count as an unplug, and every reopen would replay its old
    // times; nmea-sim --replay plays one on a pty instead.
    const auto noDevice = [&](int fd) {
        if (fd >= 0) ::close(fd);
        throw Error(ENOTTY, label + " is not a serial device");
    };
    // Checked before the open, which a read-only recording would fail with EACCES.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISCHR(st.st_mode) && !S_ISFIFO(st.st_mode))
        noDevice(-1);

    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) fail(-1, errno);
    // flock also keeps out root, whom TIOCEXCL lets through.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) fail(fd, errno == EWOULDBLOCK ? EBUSY : errno);

    termios tio{};
    if (::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | CRTSCTS | PARENB | CSIZE);
        tio.c_cflag |= CS8 | CLOCAL | CREAD;
        tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        // VMIN 1 makes an empty non-blocking read EAGAIN, so a read of 0 means hang-up.
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        if (::cfsetispeed(&tio, *speed) != 0 || ::cfsetospeed(&tio, *speed) != 0 ||
            ::tcsetattr(fd, TCSANOW, &tio) != 0)
            fail(fd, errno);
        if (::ioctl(fd, TIOCEXCL) != 0) fail(fd, errno);
        // Sentences queued before the open are stale times.
        ::tcflush(fd, TCIFLUSH);
    } else if (errno != ENOTTY) {
        fail(fd, errno);
    } else if (!S_ISFIFO(st.st_mode)) {
        noDevice(fd);  // /dev/null, /dev/zero
    }

    fd_ = fd;
}

void PosixNmeaReceiver::closeDevice() {
    if (fd_ < 0) return;
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
}

void PosixNmeaReceiver::handleReadable() {
    if (fd_ < 0) return;
    std::vector<TimedLine> lines;
    bool gone = false;
    char buffer[4096];
    for (int reads = 0; reads < kMaxReadsPerCall;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n > 0) {
            const auto size = static_cast<std::size_t>(n);
            received(std::string_view(buffer, size), lines);
            ++reads;
            // A short read took all there was; a byte-paced line wakes us for every byte,
            // so a read more only to hear EAGAIN would double the system calls.
            if (size < sizeof buffer) break;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A wake-up with nothing to read may be a hang-up, which would keep the descriptor
            // ready forever.
            pollfd p{fd_, POLLIN, 0};
            if (reads == 0 && ::poll(&p, 1, 0) > 0 &&
                (p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & POLLIN))
                gone = true;
            break;
        }
        // 0 (hung up) or EIO/ENXIO/ENODEV (unplugged) or anything else that will repeat.
        gone = true;
        break;
    }

    // Bytes already waiting came at the old speed; they fail their checksums like any noise.
    if (!gone && huntStep(lines)) {
        termios tio{};
        const auto next = speedOf(hunt_->speed());
        if (next && ::tcgetattr(fd_, &tio) == 0 && ::cfsetispeed(&tio, *next) == 0 &&
            ::cfsetospeed(&tio, *next) == 0)
            ::tcsetattr(fd_, TCSANOW, &tio);
    }
    deliver(lines, gone);
}

}  // namespace tidewell
