// getaddrinfo_a is glibc's, not POSIX.
#include "devices/host_names.h"

#include <netdb.h>
#include <netinet/in.h>

namespace tidewell {

namespace {

// One name lookup under way; poll() never waits.
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

}  // namespace tidewell
