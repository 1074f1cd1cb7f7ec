#include "app/service_notify.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace tidewell {

namespace {

// Half of WATCHDOG_USEC in milliseconds, or 0 when there is no watchdog for this process:
// WATCHDOG_PID, when set, names the process systemd watches, and a program that process
// started inherits the variables without being watched.
int pingPeriodMs() {
    const char* usec = std::getenv("WATCHDOG_USEC");
    const char* pid = std::getenv("WATCHDOG_PID");
    unsigned long long interval = 0, watched = 0;
    char extra = 0;
    if (!usec || std::sscanf(usec, "%llu%c", &interval, &extra) != 1 || interval == 0) return 0;
    if (pid && (std::sscanf(pid, "%llu%c", &watched, &extra) != 1 ||
                watched != static_cast<unsigned long long>(::getpid())))
        return 0;
    const unsigned long long ms = interval / 2000;
    return ms < 1 ? 1 : ms > 24ULL * 3600 * 1000 ? 24 * 3600 * 1000 : int(ms);
}

}  // namespace

ServiceNotifier::ServiceNotifier(EventLoop& loop, std::function<void(const std::string&)> tell)
    : loop_(loop), tell_(std::move(tell)) {
    const char* named = std::getenv("NOTIFY_SOCKET");
    if (!named || (named[0] != '/' && named[0] != '@')) return;  // none, or not a Unix socket
    named_ = named;
    address_ = named_;
    if (address_[0] == '@') address_[0] = '\0';
    if (address_.size() >= sizeof(sockaddr_un::sun_path)) {
        tell_("service: cannot notify systemd at " + named_ + ": the name is too long");
        return;
    }
    socket_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0)
        tell_("service: cannot notify systemd at " + named_ + ": " + std::strerror(errno));
    pingEveryMs_ = pingPeriodMs();
}

ServiceNotifier::~ServiceNotifier() {
    if (ready_) stopping();
    if (socket_ >= 0) ::close(socket_);
}

void ServiceNotifier::ready() {
    ready_ = true;
    send("READY=1");
    if (pingEveryMs_ > 0 && !pinger_) ping();
}

void ServiceNotifier::status(const std::string& text) {
    send("STATUS=" + text.substr(0, text.find('\n')));
}

void ServiceNotifier::stopping() {
    if (!std::exchange(stopping_, true)) send("STOPPING=1");
}

// From the loop itself, so only a loop that turns keeps the service alive.
void ServiceNotifier::ping() {
    send("WATCHDOG=1");
    pinger_ = loop_.after(pingEveryMs_, [this] { ping(); });
}

void ServiceNotifier::send(const std::string& message) {
    if (socket_ < 0) return;
    sockaddr_un to{};
    to.sun_family = AF_UNIX;
    std::memcpy(to.sun_path, address_.data(), address_.size());
    // An abstract name is its bytes alone; a path may end without its NUL.
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + address_.size());
    std::string failure;
    if (::sendto(socket_, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                 reinterpret_cast<const sockaddr*>(&to), length) < 0)
        failure = std::strerror(errno);
    // Told before the next message: telling sends a status.
    if (failure == lastFailure_) return;
    lastFailure_ = failure;
    tell_(failure.empty() ? "service: notifying systemd at " + named_ + " again"
                          : "service: cannot notify systemd at " + named_ + ": " + failure);
}

}  // namespace tidewell
