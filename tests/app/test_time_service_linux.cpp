// The Linux probe against a fake timedated on a private bus of its own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <fstream>

#include "app/qt/time_service_linux.h"

namespace tidewell {
namespace {

struct FakeTimedated : QDBusVirtualObject {
    QVariantMap properties;
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override {
        return m.member() == "GetAll" && bus.send(m.createReply(QVariant(properties)));
    }
};

TEST(LinuxTimeServices, TimedatedSaysWhetherTheClockIsKeptAndALiveDaemonSaysByWhom) {
    int argc = 1;
    char arg0[] = "test", *argv[] = {arg0, nullptr};
    QCoreApplication app(argc, argv);
    QProcess daemon;
    daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address"});
    ASSERT_TRUE(daemon.waitForReadyRead(5000)) << "dbus-daemon (scripts/deps.sh installs it)";
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    FakeTimedated timedated;
    QDBusConnection service = QDBusConnection::connectToBus(address, "service");
    ASSERT_TRUE(service.registerVirtualObject("/org/freedesktop/timedate1", &timedated));
    ASSERT_TRUE(service.registerService("org.freedesktop.timedate1"));
    const std::string files = testing::TempDir() + "timesvc-" + std::to_string(getpid());
    const std::string live = files + "-live.pid", stale = files + "-stale.pid";
    std::ofstream(stale) << "2147483647\n";
    LinuxTimeServiceProbe probe(QDBusConnection::connectToBus(address, "probe"),
                                {{"ntpd", stale, true}, {"chronyd", live, true}});

    const struct {
        bool ntp, synchronized, chronyd;
        std::optional<std::string> expected;
    } rows[] = {{false, false, false, std::nullopt},
                {true, false, false, "systemd-timesyncd"},
                {false, true, false, LinuxTimeServiceProbe::kUnknownService},
                {false, false, true, "chronyd"}};
    for (const auto& row : rows) {
        timedated.properties = {{"NTP", row.ntp}, {"NTPSynchronized", row.synchronized}};
        if (row.chronyd) std::ofstream(live) << getpid() << "\n";
        std::optional<std::optional<std::string>> answer;
        probe.probe([&](std::optional<std::string> s) { answer = s; });
        while (!answer) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        EXPECT_EQ(*answer, row.expected);
    }
    std::remove(live.c_str()), std::remove(stale.c_str());
    daemon.kill(), daemon.waitForFinished();
}

}  // namespace
}  // namespace tidewell
