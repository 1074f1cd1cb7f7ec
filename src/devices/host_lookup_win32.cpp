#include "devices/host_names.h"

// Winsock before windows.h, which would bring in the old winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include "platform/text_win32.h"
#include "platform/windows_error_win32.h"

// In ws2_32 since Windows 8; MinGW-w64's headers lack them.
extern "C" {
WINSOCK_API_LINKAGE INT WSAAPI GetAddrInfoExOverlappedResult(LPOVERLAPPED lpOverlapped);
WINSOCK_API_LINKAGE INT WSAAPI GetAddrInfoExCancel(LPHANDLE lpHandle);
}

namespace tidewell {

namespace {

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

std::unique_ptr<HostLookup> startSystemHostLookup(const std::string& name) {
    return std::make_unique<Lookup>(name);
}

}  // namespace tidewell
