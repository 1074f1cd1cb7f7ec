#include "devices/udp_socket_win32.h"

// Winsock before windows.h, which would bring in the old winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include "platform/error.h"
#include "platform/text_win32.h"
#include "platform/windows_error_win32.h"

// In ws2_32 since Windows 8; MinGW-w64's headers lack them.
extern "C" {
WINSOCK_API_LINKAGE INT WSAAPI GetAddrInfoExOverlappedResult(LPOVERLAPPED lpOverlapped);
WINSOCK_API_LINKAGE INT WSAAPI GetAddrInfoExCancel(LPHANDLE lpHandle);
}

namespace tidewell {

namespace {

void startWinsock() {
    static const int result = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (result != 0) throw windowsError(static_cast<unsigned long>(result), "Starting Winsock");
}

// One name lookup under way; poll() never waits.
class Lookup : public HostLookup {
public:
    explicit Lookup(const std::string& name) : request_(std::make_unique<Request>()) {
        Request& r = *request_;
        r.name = win32::wide(name);
        r.hints.ai_family = AF_INET;
        r.hints.ai_socktype = SOCK_DGRAM;
        r.hints.ai_protocol = IPPROTO_UDP;
        r.overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        const int rc = ::GetAddrInfoExW(r.name.c_str(), nullptr, NS_ALL, nullptr, &r.hints,
                                        &r.result, nullptr, &r.overlapped, nullptr, &r.cancel);
        if (rc != WSA_IO_PENDING) settle(rc);
    }

    ~Lookup() override {
        if (!settled_) {
            ::GetAddrInfoExCancel(&request_->cancel);
            if (::GetAddrInfoExOverlappedResult(&request_->overlapped) == WSAEINPROGRESS) {
                // The resolver still writes into the request; it must outlive us.
                (void)request_.release();
                return;
            }
        }
        if (request_->result) ::FreeAddrInfoExW(request_->result);
        if (request_->overlapped.hEvent) ::CloseHandle(request_->overlapped.hEvent);
    }

    Status poll() override {
        if (!settled_) {
            const int rc = ::GetAddrInfoExOverlappedResult(&request_->overlapped);
            if (rc == WSAEINPROGRESS) return Status::Pending;
            settle(rc);
        }
        return error_.empty() ? Status::Found : Status::Failed;
    }

    std::uint32_t address() const override { return address_; }
    std::string error() const override { return error_; }

private:
    struct Request {
        std::wstring name;
        ADDRINFOEXW hints{};
        ADDRINFOEXW* result = nullptr;
        OVERLAPPED overlapped{};
        HANDLE cancel = nullptr;
    };

    void settle(int rc) {
        settled_ = true;
        if (rc != 0) {
            error_ = windowsErrorText(static_cast<unsigned long>(rc));
            return;
        }
        // MinGW-w64 declares ai_next with a misspelt, incomplete struct name.
        for (const ADDRINFOEXW* ai = request_->result; ai;
             ai = reinterpret_cast<const ADDRINFOEXW*>(ai->ai_next)) {
            if (ai->ai_family == AF_INET) {
                address_ = reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
                return;
            }
        }
        error_ = windowsErrorText(WSAHOST_NOT_FOUND);
    }

    std::unique_ptr<Request> request_;
    bool settled_ = false;
    std::uint32_t address_ = 0;
    std::string error_;
};

}  // namespace

WindowsUdpSocket::WindowsUdpSocket()
    : socket_(INVALID_SOCKET),
      names_([](const std::string& name) { return std::make_unique<Lookup>(name); },
             [] { return std::chrono::steady_clock::now(); }) {}

WindowsUdpSocket::~WindowsUdpSocket() {
    if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
}

void WindowsUdpSocket::bindIfNeeded() {
    if (socket_ != INVALID_SOCKET && boundPort_ == LocalPort) return;
    if (socket_ != INVALID_SOCKET) {
        ::closesocket(socket_);
        socket_ = INVALID_SOCKET;
    }
    const std::string what = "Binding UDP port " + std::to_string(LocalPort);
    if (LocalPort < 0 || LocalPort > 65535)
        throw Error(errors::InvalidPropertyValue, what + ": not a port number");

    startWinsock();
    const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) throw windowsError(::WSAGetLastError(), what);
    const BOOL on = TRUE;
    u_long nonBlocking = 1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(static_cast<u_short>(LocalPort));
    if (::setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) !=
            0 ||
        ::ioctlsocket(s, FIONBIO, &nonBlocking) != 0 ||
        ::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int number = ::WSAGetLastError();
        ::closesocket(s);
        throw windowsError(static_cast<unsigned long>(number), what);
    }
    socket_ = s;
    boundPort_ = LocalPort;
}

std::uint32_t WindowsUdpSocket::resolve(const std::string& host) {
    in_addr numeric{};
    if (::inet_pton(AF_INET, host.c_str(), &numeric) == 1) return numeric.s_addr;
    if (host.empty()) throw Error(errors::HostNotFound, "Sending: no remote host is set");

    return names_.addressOf(host);
}

void WindowsUdpSocket::SendData(std::string_view data) {
    const std::string target = RemoteHost + ":" + std::to_string(RemotePort);
    if (Protocol != UdpProtocol)
        throw Error(errors::WrongProtocol,
                    "Sending to " + target + ": the socket is not set to UDP");
    if (RemotePort < 1 || RemotePort > 65535)
        throw Error(errors::InvalidPropertyValue, "Sending to " + target + ": not a port number");

    bindIfNeeded();
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_addr.s_addr = resolve(RemoteHost);
    remote.sin_port = htons(static_cast<u_short>(RemotePort));

    if (::sendto(socket_, data.data(), static_cast<int>(data.size()), 0,
                 reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != SOCKET_ERROR)
        return;
    const int number = ::WSAGetLastError();
    if (number == WSAEWOULDBLOCK || number == WSAENOBUFS)
        throw Error(errors::TransientSend,
                    "Sending to " + target + ": " +
                        windowsErrorText(static_cast<unsigned long>(number)));
    throw windowsError(static_cast<unsigned long>(number), "Sending to " + target);
}

}  // namespace tidewell
