#include "app/qt/time_service_linux.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>
#include <filesystem>
#include <fstream>

namespace tidewell {

namespace {
constexpr const char* kUnits = "/run/systemd/units/invocation:";
}  // namespace

std::vector<LinuxTimeServiceProbe::Sign> LinuxTimeServiceProbe::knownSigns() {
    std::vector<Sign> signs;
    const auto unit = [&](const char* daemon, const char* name) {
        signs.push_back({daemon, kUnits + std::string(name), false});
    };
    unit("systemd-timesyncd", "systemd-timesyncd.service");
    unit("chronyd", "chrony.service");
    unit("chronyd", "chronyd.service");
    unit("ntpd", "ntp.service");
    unit("ntpd", "ntpd.service");
    unit("ntpd", "ntpsec.service");
    unit("openntpd", "openntpd.service");
    signs.push_back({"chronyd", "/run/chrony/chronyd.pid", true});
    signs.push_back({"chronyd", "/run/chronyd.pid", true});
    signs.push_back({"ntpd", "/run/ntpd.pid", true});
    return signs;
}

LinuxTimeServiceProbe::LinuxTimeServiceProbe(QDBusConnection bus, std::vector<Sign> signs)
    : bus_(std::move(bus)), signs_(std::move(signs)) {}

// A PID file outlives a daemon that was killed, so its process must exist too.
std::optional<std::string> LinuxTimeServiceProbe::runningDaemon() const {
    namespace fs = std::filesystem;
    for (const Sign& sign : signs_) {
        std::error_code ec;
        if (!sign.pidFile) {
            // The link points at the invocation's ID, not at a file.
            if (fs::is_symlink(fs::symlink_status(sign.path, ec))) return sign.daemon;
            continue;
        }
        long pid = 0;
        if (std::ifstream(sign.path) >> pid && pid > 0 &&
            fs::exists("/proc/" + std::to_string(pid), ec))
            return sign.daemon;
    }
    return std::nullopt;
}

void LinuxTimeServiceProbe::probe(Done done) {
    if (!bus_.isConnected()) return done(runningDaemon());
    QDBusMessage call =
        QDBusMessage::createMethodCall("org.freedesktop.timedate1", "/org/freedesktop/timedate1",
                                       "org.freedesktop.DBus.Properties", "GetAll");
    call << QStringLiteral("org.freedesktop.timedate1");
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kReplyTimeoutMs), &calls_);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &calls_,
                     [this, watcher, done = std::move(done)] {
                         watcher->deleteLater();
                         const QDBusPendingReply<QVariantMap> reply = *watcher;
                         const QVariantMap state = reply.isError() ? QVariantMap{} : reply.value();
                         if (auto daemon = runningDaemon()) return done(daemon);
                         // timedated's NTP switch is systemd-timesyncd's unit.
                         if (state.value("NTP").toBool()) return done("systemd-timesyncd");
                         if (state.value("NTPSynchronized").toBool()) return done(kUnknownService);
                         done(std::nullopt);
                     });
}

}  // namespace tidewell
