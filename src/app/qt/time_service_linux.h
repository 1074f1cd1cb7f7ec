#pragma once
// Time services on Linux. systemd's timedated (org.freedesktop.timedate1) says whether network
// time is on (NTP) and whether the kernel clock is kept synchronised (NTPSynchronized); the
// known daemons' signs name which one runs, also where there is no system bus or timedated.
#include <QDBusConnection>
#include <QObject>
#include <string>
#include <vector>

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
    static constexpr int kReplyTimeoutMs = 5000;
    // What a synchronised clock with no known daemon running is put down to.
    static constexpr const char* kUnknownService = "network time (NTP)";

    // `bus` is where timedated answers: the system bus, connected before the loop runs.
    explicit LinuxTimeServiceProbe(QDBusConnection bus, std::vector<Sign> signs = knownSigns());
    // The files alone when the bus is not connected; otherwise after timedated's answer, or
    // its failure (no timedated, a bus that refuses), at most kReplyTimeoutMs later.
    void probe(Done done) override;

private:
    std::optional<std::string> runningDaemon() const;

    QDBusConnection bus_;
    std::vector<Sign> signs_;
    QObject calls_;  // holds the pending calls: they are dropped with the probe
};

}  // namespace tidewell
