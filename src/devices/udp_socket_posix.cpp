#include "devices/udp_socket_posix.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/error.h"

namespace tidewell {

namespace {

class GaiLookup : public HostLookup {
public:
    explicit GaiLookup(const std::string& name) : request_(std::make_unique<Request>()) {
        request_->name = name;
        request_->hints.ai_family = AF_INET;
        request_->hints.ai_socktype = SOCK_DGRAM;
        request_->cb.ar_name = request_->name.c_str();
        request_->cb.ar_request = &request_->hints;
        gaicb* list[] = {&request_->cb};
        if (int rc = ::getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr); rc != 0) settle(rc);
    }

    ~GaiLookup() override {
        if (!settled_ && ::gai_cancel(&request_->cb) == EAI_NOTCANCELED) {
            // The resolver still writes into the request; it must outlive us.
            (void)request_.release();
            return;
        }
        if (request_->cb.ar_result) ::freeaddrinfo(request_->cb.ar_result);
    }

    Status poll() override {
        if (!settled_) {
            int rc = ::gai_error(&request_->cb);
            if (rc == EAI_INPROGRESS) return Status::Pending;
            settle(rc);
        }
        return error_.empty() ? Status::Found : Status::Failed;
    }

    std::uint32_t address() const override { return address_.s_addr; }
    std::string error() const override { return error_; }

private:
    struct Request {
        std::string name;
        addrinfo hints{};
        gaicb cb{};
    };

    void settle(int rc) {
        settled_ = true;
        if (rc != 0) {
            error_ = ::gai_strerror(rc);
            return;
        }
        for (const addrinfo* ai = request_->cb.ar_result; ai; ai = ai->ai_next) {
            if (ai->ai_family == AF_INET) {
                address_ = reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr;
                return;
            }
        }
        error_ = ::gai_strerror(EAI_NONAME);
    }

    std::unique_ptr<Request> request_;
    bool settled_ = false;
    in_addr address_{};
    std::string error_;
};

}  // namespace

std::unique_ptr<HostLookup> startSystemHostLookup(const std::string& name) {
    return std::make_unique<GaiLookup>(name);
}

PosixUdpSocket::PosixUdpSocket()
    : PosixUdpSocket(startSystemHostLookup, [] { return std::chrono::steady_clock::now(); }) {}

PosixUdpSocket::PosixUdpSocket(StartHostLookup startLookup, HostNames::Clock now)
    : names_(std::move(startLookup), std::move(now)) {}

PosixUdpSocket::~PosixUdpSocket() {
    if (fd_ >= 0) ::close(fd_);
}

void PosixUdpSocket::bindIfNeeded() {
    if (fd_ >= 0 && boundPort_ == LocalPort) return;
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    const std::string what = "Binding UDP port " + std::to_string(LocalPort);
    if (LocalPort < 0 || LocalPort > 65535)
        throw Error(errors::InvalidPropertyValue, what + ": not a port number");

    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) throw systemError(errno, what);
    const int on = 1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(static_cast<std::uint16_t>(LocalPort));
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int number = errno;
        ::close(fd);
        throw systemError(number, what);
    }
    fd_ = fd;
    boundPort_ = LocalPort;
}

in_addr PosixUdpSocket::resolve(const std::string& host) {
    in_addr numeric{};
    if (::inet_pton(AF_INET, host.c_str(), &numeric) == 1) return numeric;
    if (host.empty()) throw Error(errors::HostNotFound, "Sending: no remote host is set");

    in_addr address{};
    address.s_addr = names_.addressOf(host);
    return address;
}

void PosixUdpSocket::SendData(std::string_view data) {
    const std::string target = RemoteHost + ":" + std::to_string(RemotePort);
    if (Protocol != UdpProtocol)
        throw Error(errors::WrongProtocol,
                    "Sending to " + target + ": the socket is not set to UDP");
    if (RemotePort < 1 || RemotePort > 65535)
        throw Error(errors::InvalidPropertyValue, "Sending to " + target + ": not a port number");

    bindIfNeeded();
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_addr = resolve(RemoteHost);
    remote.sin_port = htons(static_cast<std::uint16_t>(RemotePort));

    ssize_t sent;
    do {
        sent = ::sendto(fd_, data.data(), data.size(), 0,
                        reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
    } while (sent < 0 && errno == EINTR);
    if (sent >= 0) return;

    const int number = errno;
    if (number == EAGAIN || number == EWOULDBLOCK || number == ENOBUFS)
        throw Error(errors::TransientSend, "Sending to " + target + ": " + std::strerror(number));
    throw systemError(number, "Sending to " + target);
}

}  // namespace tidewell
