// The program on a real X server under a tray host: a click on its tray icon maps the window,
// and "Close and Exit" ends the program with the GPS port saved.
#include <gmock/gmock.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "child_process.h"

namespace {

using tidewell::testing::ChildProcess;

// The first line a shell command prints, its errors dropped.
std::string run(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r")) {
        for (char buffer[256]; std::fgets(buffer, sizeof buffer, p);) out += buffer;
        ::pclose(p);
    }
    return out.substr(0, out.find('\n'));
}

// The first line the command prints within ten seconds, or "".
std::string eventually(const std::string& command) {
    std::string out;
    for (int i = 0; i < 200 && (out = run(command)).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return out;
}

TEST(DesktopX, ClickOnTheTrayIconShowsTheWindowAndCloseAndExitSavesThePort) {
    for (std::string tool : {"Xvfb", "xdotool", "trayer"})
        if (run("command -v " + tool).empty()) GTEST_SKIP() << tool << " is not installed";
    int display = 100 + ::getpid() % 400;
    while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(display)) ||
           std::filesystem::exists("/tmp/.X" + std::to_string(display) + "-lock"))
        ++display;
    const std::string name = ":" + std::to_string(display);
    ChildProcess xserver(run("command -v Xvfb"),
                         {name, "-screen", "0", "800x600x24", "-nolisten", "tcp"});
    ::setenv("DISPLAY", name.c_str(), 1);
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::setenv("LSAN_OPTIONS", "suppressions=" TIDEWELL_QT_TESTS "/lsan.supp", 1);
    ASSERT_NE(eventually("xdotool getmouselocation"), "") << xserver.stderrText();
    ChildProcess trayHost(run("command -v trayer"), {"--widthtype", "request"});
    ASSERT_NE(eventually("xdotool search --onlyvisible --class trayer"), "");

    const std::string ini = std::filesystem::temp_directory_path() / ("tidewell-x" + name);
    std::ofstream(ini) << "[UDP]\nSendUDP= 1\nUDPaddress=127.0.0.1\n";
    ChildProcess program(TIDEWELL_BINARY_DIR "/tidewell", {"--no-set-clock", "--settings", ini});
    const std::string icon = eventually("xdotool search --onlyvisible --class tidewell");
    ASSERT_NE(icon, "") << program.stderrText();
    run("xdotool mousemove --window " + icon + " 8 8 click 1");
    const std::string shown = eventually("xdotool search --onlyvisible --name '^Tidewell$'");
    ASSERT_NE(shown, "");
    // Close and Exit, at its centre in twips, 15 a pixel.
    run("xdotool mousemove --window " + shown + " " + std::to_string((4140 + 1275 / 2) / 15) + " " +
        std::to_string((5760 + 375 / 2) / 15) + " click 1");
    EXPECT_EQ(program.waitExit(10000), 0) << program.stderrText();
    const std::string saved(std::istreambuf_iterator<char>(std::ifstream(ini).rdbuf()), {});
    EXPECT_THAT(saved, ::testing::HasSubstr("[GPS]\nGPSDATE=0\nCOMPORT=None"));
    std::filesystem::remove(ini);
    xserver.waitExit(5000, SIGTERM);
}

}  // namespace
