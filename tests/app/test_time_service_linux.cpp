// The Linux probe with a stand-in for timedatectl, and daemons' signs in files of its own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "app/linux/event_loop_linux.h"
#include "app/linux/time_service_linux.h"

namespace tidewell {
namespace {

std::vector<std::string> say(const std::string& text) {
    return {"/bin/sh", "-c", "printf '" + text + "'"};
}

TEST(LinuxTimeServices, TimedatedSaysWhetherTheClockIsKeptAndALiveDaemonSaysByWhom) {
    const std::string files = testing::TempDir() + "timesvc-" + std::to_string(getpid());
    const std::string live = files + "-live.pid", stale = files + "-stale.pid";
    std::ofstream(stale) << "2147483647\n";
    const struct {
        std::vector<std::string> query;
        bool chronyd;
        std::optional<std::string> expected;
    } rows[] = {
        {say("NTP=no\\nNTPSynchronized=no\\n"), false, std::nullopt},
        {say("NTP=yes\\nNTPSynchronized=no\\n"), false, "systemd-timesyncd"},
        {say("NTP=no\\nNTPSynchronized=yes\\n"), false, LinuxTimeServiceProbe::kUnknownService},
        // No timedated: timedatectl fails; no timedatectl at all.
        {{"/bin/sh", "-c", "echo NTP=yes; exit 1"}, false, std::nullopt},
        {{"/nonexistent/timedatectl"}, false, std::nullopt},
        // A bus that never answers is given up.
        {{"/bin/sleep", "60"}, false, std::nullopt},
        {say("NTP=yes\\n"), true, "chronyd"},
    };
    LinuxEventLoop loop;
    for (const auto& row : rows) {
        if (row.chronyd) std::ofstream(live) << getpid() << "\n";
        LinuxTimeServiceProbe probe(loop, {{"ntpd", stale, true}, {"chronyd", live, true}},
                                    row.query, 300);
        std::optional<std::optional<std::string>> answer;
        probe.probe([&](std::optional<std::string> s) { answer = s, loop.quit(0); });
        loop.run();
        EXPECT_EQ(*answer, row.expected) << row.query.back();
    }
    std::remove(live.c_str()), std::remove(stale.c_str());
}

}  // namespace
}  // namespace tidewell
