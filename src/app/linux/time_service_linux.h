#pragma once
// Time services on Linux. The known daemons' signs name which one runs; systemd's timedated,
// asked through `timedatectl show`, says whether network time is on (NTP) and whether the
// kernel clock is kept synchronised (NTPSynchronized), also for a daemon without signs here.
// timedatectl runs as a child process watched on the loop, so the program links no D-Bus
// library of its own and never waits for an answer.
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/event_loop.h"
#include "platform/time_service.h"

namespace tidewell {

class LinuxTimeServiceProbe : public TimeServiceProbe {
public:
    // A daemon is running while its systemd unit's invocation link exists in /run, or while
    // the process its PID file names exists.
    struct Sign {
        std::string daemon;
        std::string path;
        bool pidFile = false;
    };
    static std::vector<Sign> knownSigns();
    // What prints timedated's two properties as "NTP=yes" lines.
    static std::vector<std::string> timedatedQuery();
    static constexpr int kReplyTimeoutMs = 5000;
    // What a synchronised clock with no known daemon running is put down to.
    static constexpr const char* kUnknownService = "network time (NTP)";

    explicit LinuxTimeServiceProbe(EventLoop& loop, std::vector<Sign> signs = knownSigns(),
                                   std::vector<std::string> query = timedatedQuery(),
                                   int timeoutMs = kReplyTimeoutMs);
    ~LinuxTimeServiceProbe() override;
    LinuxTimeServiceProbe(const LinuxTimeServiceProbe&) = delete;
    LinuxTimeServiceProbe& operator=(const LinuxTimeServiceProbe&) = delete;

    // At once when a sign names a daemon; otherwise after the query's answer, or its failure
    // (no timedatectl, no timedated, no system bus), at most `timeoutMs` later.
    void probe(Done done) override;

private:
    std::optional<std::string> runningDaemon() const;
    void readAnswer();
    void reap();
    void answer(bool ntp, bool synchronized);

    EventLoop& loop_;
    std::vector<Sign> signs_;
    std::vector<std::string> query_;
    int timeoutMs_;
    // The query under way, and everyone waiting for it.
    pid_t child_ = -1;
    int output_ = -1;
    std::string text_;
    std::vector<Done> waiting_;
    EventLoop::Token reading_, timeout_, reaping_;
};

}  // namespace tidewell
