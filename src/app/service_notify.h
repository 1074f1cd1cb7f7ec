#pragma once
// Tells systemd how the service is, over the socket it names in NOTIFY_SOCKET: ready once
// start-up is done, alive at half the watchdog's interval for as long as the event loop turns
// (a loop that hangs stops the pings and is restarted), a short status, and stopping. Without
// NOTIFY_SOCKET it does nothing.
#include <functional>
#include <string>

#include "platform/event_loop.h"

namespace tidewell {

class ServiceNotifier {
public:
    // `tell` hears a failure to reach systemd, once per reason.
    ServiceNotifier(EventLoop& loop, std::function<void(const std::string&)> tell);
    ~ServiceNotifier();
    ServiceNotifier(const ServiceNotifier&) = delete;
    ServiceNotifier& operator=(const ServiceNotifier&) = delete;

    // READY=1; the watchdog's pings start, when systemd asked for them and for this process.
    void ready();
    // STATUS=, one line.
    void status(const std::string& text);
    // STOPPING=1, once; also at destruction when it has not been said.
    void stopping();

private:
    void send(const std::string& message);
    void ping();

    EventLoop& loop_;
    std::function<void(const std::string&)> tell_;
    int socket_ = -1;
    std::string address_;  // the socket's name; a leading NUL for the abstract namespace
    std::string named_;    // as NOTIFY_SOCKET gave it, for messages
    int pingEveryMs_ = 0;  // 0: no watchdog
    EventLoop::Token pinger_;
    std::string lastFailure_;
    bool ready_ = false, stopping_ = false;
};

}  // namespace tidewell
