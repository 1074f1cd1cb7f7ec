#include "devices/refclock_socket_posix.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error.h"

namespace tidewell {

namespace {

// chrony's struct sock_sample, as a chronyd built for this system reads it: its size must
// match to the byte, so it is made of the same C types.
struct SockSample {
    timeval tv;     // the PC clock's reading
    double offset;  // true time less tv, in seconds
    int pulse;      // 0: a whole time, not a pulse
    int leap;       // 0: no leap second announced (RMC carries none)
    int pad;
    int magic;
};
constexpr int kMagic = 0x534f434b;  // "SOCK"

sockaddr_un addressOf(const std::string& path, const std::string& what) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path)
        throw Error(errors::InvalidPropertyValue, what + ": not a socket path of 1 to " +
                                                      std::to_string(sizeof address.sun_path - 1) +
                                                      " bytes");
    path.copy(address.sun_path, path.size());
    return address;
}

Error failure(int number, const std::string& what) {
    Error e = systemError(number, what);
    const char* meaning = number == ENOENT ? "chronyd is not running, or has no refclock SOCK "
                                             "line for it"
                          : number == ECONNREFUSED ? "left by a chronyd that has stopped"
                          : number == EACCES || number == EPERM
                              ? "this user may not write to it; see the README"
                          : number == EAGAIN ? "chronyd is not reading its samples"
                                             : nullptr;
    return meaning ? Error(e.number(), e.description() + " (" + meaning + ")") : e;
}

}  // namespace

PosixRefclockSocket::~PosixRefclockSocket() {
    if (fd_ >= 0) ::close(fd_);
}

// A datagram socket connects only where chronyd's is bound, and sends nothing doing so.
void PosixRefclockSocket::check() {
    const std::string what = "Reaching chrony's socket " + Path;
    const sockaddr_un address = addressOf(Path, what);
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw systemError(errno, what);
    const int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int number = errno;
    ::close(fd);
    if (rc != 0) throw failure(number, what);
}

void PosixRefclockSocket::send(const RefclockSample& sample) {
    const std::string what = "Sending to chrony's socket " + Path;
    const sockaddr_un address = addressOf(Path, what);
    if (fd_ < 0 && (fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) < 0)
        throw systemError(errno, what);

    using namespace std::chrono;
    const auto since = sample.pcTime.time_since_epoch();
    const auto seconds = floor<std::chrono::seconds>(since);
    SockSample out{};
    out.tv.tv_sec = static_cast<time_t>(seconds.count());
    out.tv.tv_usec = static_cast<suseconds_t>((since - seconds).count());
    out.offset = sample.offset;
    out.magic = kMagic;
    ssize_t sent;
    do {
        sent = ::sendto(fd_, &out, sizeof out, MSG_DONTWAIT | MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) throw failure(errno, what);
}

}  // namespace tidewell
