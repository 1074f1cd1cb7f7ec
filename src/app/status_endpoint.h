#pragma once
// The running program's status endpoint, and its client. A Unix stream socket (mode 0660,
// in $XDG_RUNTIME_DIR/tidewell or /run/tidewell) on POSIX; a named pipe that admits only its
// user, SYSTEM and administrators on Windows. Each connection carries one request line and
// gets one answer, then closes; a client that sends nothing for kRequestTimeoutMs is dropped,
// and beyond kMaxClients at once a client is told to ask again. Everything runs on the event
// loop without blocking it; nothing asked can change the program.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/status_request.h"
#include "platform/event_loop.h"

namespace tidewell {

class StatusEndpoint {
public:
    static constexpr int kMaxClients = 4;
    static constexpr int kRequestTimeoutMs = 2000;
    using Answer = std::function<std::string(const StatusRequest&)>;
    using Tell = std::function<void(const std::string&)>;

    // Listens at `path`, or at the platform's place for this user when it is empty. A place
    // that cannot be had is told through `tell`, once, and the program goes on without one.
    StatusEndpoint(EventLoop& loop, const std::string& path, Answer answer, Tell tell);
    ~StatusEndpoint();
    StatusEndpoint(const StatusEndpoint&) = delete;
    StatusEndpoint& operator=(const StatusEndpoint&) = delete;

    // Where it listens; empty when it does not.
    const std::string& path() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// The places a client tries, in order: `path` alone when given, else the user's own, then
// the system service's (POSIX), then the fallback.
std::vector<std::string> statusEndpointPlaces(const std::string& path);

struct StatusReply {
    enum class Outcome { Answered, NotRunning, Failed };
    Outcome outcome = Outcome::Failed;
    std::string text;  // the answer, or why there is none
};

// Sends `request` (one line, without its newline) to the endpoint at `place` and reads the
// answer, waiting at most `timeoutMs` for each step. Blocks: for the client only.
StatusReply askStatus(const std::string& place, const std::string& request, int timeoutMs);

}  // namespace tidewell
