// The Windows program's status under Wine, through its named pipe, always --no-set-clock: a
// receiver with valid time, then one without a fix, then no program. In a network namespace
// of the test's own, as the program's own test. Run by the Windows build's suite.
#include <gtest/gtest.h>

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "child_process.h"

namespace tidewell {
namespace {

namespace fs = std::filesystem;
using testing::ChildProcess;
using namespace std::chrono_literals;

TEST(StatusUnderWine, WorkingThenDegradedWithoutAFixThenNotRunning) {
    const char* exe = std::getenv("TIDEWELL_EXE");
    const char* prefix = std::getenv("TIDEWELL_WINEPREFIX");
    if (!exe || !prefix) GTEST_SKIP() << "run from the Windows build's suite";
    ::setenv("WINEPREFIX", prefix, 1);
    ::setenv("WINEDEBUG", "-all", 1);
    ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
    std::system("wineserver -k 2>/dev/null");
    if (::unshare(CLONE_NEWNET) != 0) GTEST_SKIP() << "no network namespace of our own (root?)";
    ifreq lo{};
    std::strcpy(lo.ifr_name, "lo");
    lo.ifr_flags = IFF_UP;
    const int control = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::ioctl(control, SIOCSIFFLAGS, &lo), 0);
    ::close(control);
    // The prefix the program's own test made, its COM1 a link of ours.
    const fs::path com1 = fs::path(prefix) / "com1";
    if (!fs::exists(fs::path(prefix) / "system.reg")) GTEST_SKIP() << "no prefix made yet";
    const fs::path dir =
        fs::temp_directory_path() / ("tidewell-wine-status-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const struct Cleanup {
        fs::path dir;
        ~Cleanup() {
            std::system("wineserver -k");
            std::error_code ec;
            fs::remove_all(dir, ec);
        }
    } cleanup{dir};
    ChildProcess valid(TIDEWELL_BINARY_DIR "/tools/nmea-sim", {"--count", "15"});
    ChildProcess noFix(TIDEWELL_BINARY_DIR "/tools/nmea-sim", {"--void", "1"});
    fs::remove(com1);
    fs::create_symlink(dir / "gps", com1);
    fs::create_symlink(valid.line(0, 3000), dir / "gps");
    fs::create_symlink(noFix.line(0, 3000), dir / "replugged");
    std::ofstream(dir / "Tidewell.ini")
        << "[UDP]\nUDPADDRESS=127.0.0.1\nSENDUDP= 0\n[GPS]\nCOMPORT=COM1\n";
    std::string settings = "Z:" + (dir / "Tidewell.ini").string();
    std::replace(settings.begin(), settings.end(), '/', '\\');
    const fs::path wineLog = dir / "wine.log";
    ChildProcess program("/bin/sh", {"-c", "exec /usr/bin/wine \"$@\" 2>\"$0\"", wineLog.string(),
                                     exe, "--headless", "--no-set-clock", "--settings", settings});
    const auto until = [&](const std::string& prefix, std::chrono::seconds wait) {
        for (const auto end = testing::Clock::now() + wait; testing::Clock::now() < end;
             ::usleep(100'000)) {
            program.pump();
            for (const auto& l : program.lines())
                if (l.starts_with(prefix)) return true;
        }
        return false;
    };
    const auto status = [&](std::string& text) {
        ChildProcess client("/bin/sh", {"-c", "exec /usr/bin/wine \"$0\" --status 2>&1", exe});
        const int code = client.waitExit(60'000);
        text.clear();
        for (std::string l : client.lines())
            text += (l.ends_with('\r') ? l.substr(0, l.size() - 1) : l) + "\n";
        return code;
    };
    std::string text;
    ASSERT_TRUE(until("gps: ", 30s));
    EXPECT_EQ(status(text), 0) << text;
    for (const char* item :
         {"tidewell: ok\n", "\nreceiver:     COM1 (\\\\.\\COM1), open, 4800 baud\n",
          "\n  state:      valid; ", "\nclock:        set once a minute", "\nudp sync:     off\n",
          "\nprogram:      Tidewell "})
        EXPECT_NE(text.find(item), std::string::npos) << item << " in\n" << text;

    ASSERT_TRUE(until("gps port: COM1 closed", 30s));
    fs::rename(dir / "replugged", dir / "gps");
    ASSERT_TRUE(until("gps port: COM1 open", 15s));
    int code = 0;
    for (const auto end = testing::Clock::now() + 150s; testing::Clock::now() < end && code == 0;) {
        std::this_thread::sleep_for(3s);
        code = status(text);
    }
    EXPECT_EQ(code, 1) << text;
    EXPECT_TRUE(text.starts_with("tidewell: degraded: no valid time for 1 min ")) << text;
    EXPECT_NE(text.find("no valid fix (status V)"), std::string::npos) << text;

    ASSERT_EQ(std::system("wine taskkill /im tidewell.exe >/dev/null 2>&1"), 0);
    EXPECT_EQ(program.waitExit(10'000), 0);
    EXPECT_EQ(status(text), 2) << text;
    EXPECT_TRUE(text.starts_with(
        "tidewell is not running (no status pipe at \\\\.\\pipe\\tidewell-status-"))
        << text;
}

}  // namespace
}  // namespace tidewell
