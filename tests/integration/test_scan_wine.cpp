// nmea-check.exe --scan under Wine, over the COM ports Wine lists: COM1 nmea-sim at 9600 baud
// and COM2 a silent line, both pseudo-terminals. In a mount namespace of the test's own where
// the machine's serial devices are /dev/null, so that no real port is opened. Run by the
// Windows build's suite, which names nmea-check.exe.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "child_process.h"

namespace tidewell {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::StartsWith;

TEST(ScanUnderWine, FindsTheReceiverAmongTheComPortsWineLists) {
    const char* exe = std::getenv("NMEA_CHECK_EXE");
    const char* prefix = std::getenv("TIDEWELL_WINEPREFIX");
    if (!exe || !prefix) GTEST_SKIP() << "run from the Windows build's suite";
    ::setenv("WINEPREFIX", prefix, 1);
    ::setenv("WINEDEBUG", "-all", 1);
    ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
    // Wine's server opens the devices: it must start inside the namespaces.
    std::system("wineserver -k 2>/dev/null");
    if (::unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) GTEST_SKIP() << "no namespaces of our own";
    ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
    struct stat null {};
    ASSERT_EQ(::stat("/dev/null", &null), 0);
    for (const auto& entry : fs::directory_iterator("/dev")) {
        const std::string name = entry.path().filename(), path = entry.path();
        if (!name.starts_with("ttyS") && !name.starts_with("ttyUSB") && !name.starts_with("ttyACM"))
            continue;
        struct stat now {};
        ASSERT_EQ(::mount("/dev/null", path.c_str(), nullptr, MS_BIND, nullptr), 0) << path;
        ASSERT_TRUE(::stat(path.c_str(), &now) == 0 && now.st_rdev == null.st_rdev) << path;
    }
    // The same prefix and port links as the program's test.
    const fs::path com1 = fs::path(prefix) / "com1", com2 = fs::path(prefix) / "com2";
    const auto wine = [](const std::string& args) {
        return std::system(("wine " + args + " >/dev/null 2>&1 </dev/null").c_str());
    };
    if (!fs::exists(fs::path(prefix) / "system.reg")) {
        ASSERT_EQ(wine("reg add 'HKCU\\Software\\Wine\\Drivers' /v Graphics /d null /f"), 0);
        for (const auto& [name, link] : {std::pair("COM1", com1), {"COM2", com2}})
            ASSERT_EQ(wine("reg add 'HKLM\\Software\\Wine\\Ports' /v " + std::string(name) +
                           " /d " + link.string() + " /f"),
                      0);
        std::system("wineserver -k");
    }
    testing::ChildProcess sim(TIDEWELL_BINARY_DIR "/tools/nmea-sim",
                              {"--baud", "9600", "--chunk", "sentence"});
    testing::Pty silent;
    fs::remove(com1), fs::remove(com2);
    fs::create_symlink(sim.line(0), com1);
    fs::create_symlink(silent.path(), com2);

    testing::ChildProcess scan("/bin/sh", {"-c", "exec wine \"$0\" --scan 2>/dev/null", exe});
    const int status = scan.waitExit(200'000);
    std::system("wineserver -k");
    EXPECT_EQ(status, 0);
    std::vector<std::string> lines;
    for (std::string line : scan.lines()) {
        if (line.ends_with('\r')) line.pop_back();
        lines.push_back(line);
    }
    EXPECT_THAT(lines, Contains("COM1 (\\Device\\Serial0): NMEA at 9600 baud, valid time"));
    EXPECT_THAT(lines, Contains(StartsWith("COM2 (\\Device\\Serial1): nothing")));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_THAT(std::vector(lines.end() - 3, lines.end()),
                ElementsAre("Choose COM1 as the GPS port, with these lines in Tidewell.ini:",
                            "[Ports]", "BAUD=9600"));
}

}  // namespace
}  // namespace tidewell
