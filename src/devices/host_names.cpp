#include "devices/host_names.h"

#include "platform/error.h"

namespace tidewell {

HostNames::HostNames(StartHostLookup startLookup, Clock now)
    : startLookup_(std::move(startLookup)), now_(std::move(now)) {}

HostNames::~HostNames() = default;

std::uint32_t HostNames::addressOf(const std::string& host) {
    Entry& entry = names_[host];
    const auto now = now_();
    if (!entry.lookup) {
        const bool due = !entry.everStarted ||
                         now - entry.settledAt >=
                             (entry.address ? std::chrono::steady_clock::duration(kRefreshAfter)
                                            : std::chrono::steady_clock::duration(kRetryAfter));
        if (due) {
            entry.lookup = startLookup_(host);
            entry.everStarted = true;
        }
    }
    if (entry.lookup) {
        switch (entry.lookup->poll()) {
        case HostLookup::Status::Pending:
            break;
        case HostLookup::Status::Found:
            entry.address = entry.lookup->address();
            entry.failure.clear();
            entry.settledAt = now;
            entry.lookup.reset();
            break;
        case HostLookup::Status::Failed:
            // A failed refresh keeps the last good address.
            entry.failure = "Resolving " + host + ": " + entry.lookup->error();
            entry.settledAt = now;
            entry.lookup.reset();
            break;
        }
    }
    if (entry.address) return *entry.address;
    if (entry.lookup)
        throw Error(errors::TransientSend, "Resolving " + host + ": still in progress");
    throw Error(errors::HostNotFound, entry.failure);
}

}  // namespace tidewell
