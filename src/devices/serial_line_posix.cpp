#include "devices/serial_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <utility>

#include "platform/error.h"

namespace tidewell {

namespace {

// Enough for a burst, yet the event loop gets control back under a flood.
constexpr int kMaxReadsPerCall = 64;

std::optional<speed_t> speedOf(int baud) {
    static constexpr std::pair<int, speed_t> kSpeeds[] = {
        {1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
        {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}};
    for (const auto& [number, speed] : kSpeeds)
        if (number == baud) return speed;
    return std::nullopt;
}

}  // namespace

struct SerialLine::Native {
    int fd = -1;
    std::string label;
};

SerialLine::SerialLine() : native_(std::make_unique<Native>()) {}

SerialLine::~SerialLine() {
    close();
}

bool SerialLine::isOpen() const {
    return native_->fd >= 0;
}

NativeHandle SerialLine::readHandle() const {
    return native_->fd;
}

void SerialLine::open(const std::string& path, const std::string& label, int baud, Use use) {
    const auto speed = speedOf(baud);
    if (!speed) throw Error(errors::InvalidPropertyValue, label + ": unsupported baud rate");
    if (path.empty()) throw systemError(ENOENT, "Opening " + label);
    const auto fail = [&](int fd, int number) {
        if (fd >= 0) ::close(fd);
        return systemError(number, "Opening " + label);
    };
    const auto noDevice = [&](int fd) {
        if (fd >= 0) ::close(fd);
        return Error(ENOTTY, label + " is not a serial device");
    };
    const bool receive = use == Use::Receive;
    // Checked before the open, which a read-only recording would fail with EACCES.
    struct stat st {};
    if (receive && ::stat(path.c_str(), &st) == 0 && !S_ISCHR(st.st_mode) && !S_ISFIFO(st.st_mode))
        throw noDevice(-1);

    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw fail(-1, errno);
    // flock also keeps out root, whom TIOCEXCL lets through.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) throw fail(fd, errno == EWOULDBLOCK ? EBUSY : errno);

    termios tio{};
    if (::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | CRTSCTS | PARENB | CSIZE);
        tio.c_cflag |= CS8 | CLOCAL | CREAD;
        tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        // A reader needs VMIN 1: an empty non-blocking read is then EAGAIN, so a read of 0
        // means hang-up.
        tio.c_cc[VMIN] = receive ? 1 : 0;
        tio.c_cc[VTIME] = 0;
        if (::cfsetispeed(&tio, *speed) != 0 || ::cfsetospeed(&tio, *speed) != 0 ||
            ::tcsetattr(fd, TCSANOW, &tio) != 0)
            throw fail(fd, errno);
        if (::ioctl(fd, TIOCEXCL) != 0) throw fail(fd, errno);
        // Sentences queued before the open are stale times.
        if (receive) ::tcflush(fd, TCIFLUSH);
    } else if (errno != ENOTTY || !receive) {
        throw fail(fd, errno);
    } else if (!S_ISFIFO(st.st_mode)) {
        throw noDevice(fd);  // /dev/null, /dev/zero
    }

    native_->fd = fd;
    native_->label = label;
}

void SerialLine::close() {
    if (native_->fd < 0) return;
    ::ioctl(native_->fd, TIOCNXCL);
    ::close(native_->fd);
    native_->fd = -1;
}

bool SerialLine::setSpeed(int baud) {
    termios tio{};
    const auto speed = speedOf(baud);
    return speed && ::tcgetattr(native_->fd, &tio) == 0 && ::cfsetispeed(&tio, *speed) == 0 &&
           ::cfsetospeed(&tio, *speed) == 0 && ::tcsetattr(native_->fd, TCSANOW, &tio) == 0;
}

SerialLine::ReadOutcome SerialLine::readWaiting(const std::function<void(std::string_view)>& take) {
    const int fd = native_->fd;
    if (fd < 0) return ReadOutcome::Nothing;
    char buffer[4096];
    for (int reads = 0; reads < kMaxReadsPerCall;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            const auto size = static_cast<std::size_t>(n);
            take(std::string_view(buffer, size));
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
            pollfd p{fd, POLLIN, 0};
            if (reads == 0 && ::poll(&p, 1, 0) > 0 &&
                (p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & POLLIN))
                return ReadOutcome::Gone;
            break;
        }
        // 0 (hung up) or EIO/ENXIO/ENODEV (unplugged) or anything else that will repeat.
        return ReadOutcome::Gone;
    }
    return ReadOutcome::Read;
}

std::size_t SerialLine::write(std::string_view data) {
    ssize_t written;
    do {
        written = ::write(native_->fd, data.data(), data.size());
    } while (written < 0 && errno == EINTR);
    if (written >= 0) return static_cast<std::size_t>(written);
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    throw systemError(errno, "Writing " + native_->label);
}

}  // namespace tidewell
