// The program on a real X server under a tray host: its tray icon docks again in a restarted
// panel, a click on it maps the window, laid out as its twips say at 96 DPI, "Hide Program"
// unmaps it, a second start maps it again, and "Close and Exit" ends the program with the GPS
// port saved.
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <gmock/gmock.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "child_process.h"
#include "temp_folder.h"

// What the X and font libraries keep for the life of the process.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\nleak:libdbus-1\nleak:libX11\nleak:libxcb\n";
}

namespace {

using ::testing::HasSubstr;
using namespace std::chrono_literals;
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

// The first line the command prints within ten seconds, or ""; with `printing` false, waits
// instead until it prints nothing.
std::string eventually(const std::string& command, bool printing = true) {
    std::string out;
    for (int i = 0; i < 200 && (out = run(command)).empty() == printing; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return out;
}

void click(const std::string& window, int x, int y, int button = 1) {
    run("xdotool mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y) +
        " click " + std::to_string(button));
}

// Walking from `at` by `step`, where the colour first changes clearly: x or y, along the step.
int edge(const QImage& image, QPoint at, QPoint step) {
    const QRgb from = image.pixel(at);
    const auto near = [&](QRgb c) { return std::abs(qGray(c) - qGray(from)) < 20; };
    do at += step;
    while (image.rect().contains(at + step) && near(image.pixel(at)));
    return step.x() ? at.x() : at.y();
}

TEST(DesktopX, TrayIconOutlivesThePanelAndShowsHidesAndClosesTheWindow) {
    const auto px = [](int twips) { return twips * 96 / 1440; };
    for (std::string tool : {"Xvfb", "xdotool", "trayer"})
        if (run("command -v " + tool).empty()) GTEST_SKIP() << tool << " is not installed";
    // The server picks a free display itself, as a test's own pick could race another's; and
    // does not reset when its last client leaves, which would refuse the next one meanwhile.
    ChildProcess xserver(run("command -v Xvfb"), {"-displayfd", "1", "-noreset", "-screen", "0",
                                                  "800x600x24", "-nolisten", "tcp"});
    const std::string name = ":" + xserver.line(0, 10000);
    ASSERT_NE(name, ":") << xserver.stderrText();
    ::setenv("DISPLAY", name.c_str(), 1);
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::setenv("LSAN_OPTIONS", "suppressions=" TIDEWELL_QT_TESTS "/lsan.supp", 1);
    const std::string trayer = run("command -v trayer"),
                      anyIcon = "xdotool search --onlyvisible --class tidewell";
    const std::vector<std::string> panelArgs{"--widthtype", "request"};
    std::optional<ChildProcess> panel(std::in_place, trayer, panelArgs);
    ASSERT_NE(eventually("xdotool search --onlyvisible --class trayer"), "")
        << xserver.stderrText() << panel->stderrText();

    tidewell::testing::TempFolder dir;
    const std::string ini = dir.file("Tidewell.ini");
    std::ofstream(ini) << "[UDP]\nSendUDP= 1\nUDPaddress=127.0.0.1\n";
    // A runtime folder of its own: the status socket a second start asks is this copy's.
    std::filesystem::permissions(dir.root, std::filesystem::perms::owner_all);
    ::setenv("XDG_RUNTIME_DIR", dir.root.c_str(), 1);
    ChildProcess program(TIDEWELL_BINARY_DIR "/tidewell", {"--no-set-clock", "--settings", ini});
    ASSERT_NE(eventually(anyIcon), "") << program.stderrText();
    // The panel restarts; the icon docks in the new one, not as a window of its own.
    panel->waitExit(5000, SIGTERM);
    ASSERT_EQ(eventually(anyIcon, false), "");
    panel.emplace(trayer, panelArgs);
    const std::string icon = eventually(anyIcon);
    ASSERT_NE(icon, "") << program.stderrText();
    EXPECT_EQ(run("xdotool search --maxdepth 1 --onlyvisible --class tidewell"), "");

    click(icon, 8, 8);
    const std::string shown = eventually("xdotool search --onlyvisible --name '^Tidewell$'");
    ASSERT_NE(shown, "");
    EXPECT_THAT(run("xprop -id " + shown + " _NET_WM_WINDOW_TYPE"), HasSubstr("_UTILITY"))
        << "a taskbar button beside the tray icon";
    static int argc = 1;
    static char arg0[] = "test_desktop_x", *argv[] = {arg0, nullptr};
    QGuiApplication screen(argc, argv);
    QImage shot;
    bool painted = false;
    // Grabbed until painted: Line1 dark, where its twips say, against the window above it. The
    // offscreen window test checks every control's place; here the size shows the same scale.
    for (int i = 0; i < 100 && !painted; ++i, std::this_thread::sleep_for(50ms)) {
        shot = QGuiApplication::primaryScreen()->grabWindow(std::stoul(shown)).toImage();
        painted = edge(shot, {px(2805), px(2900)}, {0, 1}) == px(3030);
    }
    std::filesystem::create_directories(TIDEWELL_BINARY_DIR "/artifacts");
    shot.save(TIDEWELL_BINARY_DIR "/artifacts/window.png");
    EXPECT_TRUE(painted) << "Line1 where its twips put it";
    EXPECT_EQ(shot.size(), QSize(px(5745), px(6705)));

    // Hide Program, at its centre; then a second start with the same settings shows this
    // copy's window and ends, and, hidden again, the icon brings it back.
    const auto hide = [&] {
        click(shown, px(2400 + 1125 / 2), px(5790 + 375 / 2));
        EXPECT_EQ(eventually("xdotool search --onlyvisible --name '^Tidewell$'", false), "");
    };
    hide();
    ChildProcess second(TIDEWELL_BINARY_DIR "/tidewell", {"--no-set-clock", "--settings", ini});
    EXPECT_EQ(second.waitExit(10000), 0) << second.stderrText();
    EXPECT_EQ(eventually("xdotool search --onlyvisible --name '^Tidewell$'"), shown);
    hide();
    click(icon, 8, 8, 3);  // the right button as the left
    ASSERT_EQ(eventually("xdotool search --onlyvisible --name '^Tidewell$'"), shown);
    // Close and Exit.
    click(shown, px(4140 + 1275 / 2), px(5760 + 375 / 2));
    EXPECT_EQ(program.waitExit(10000), 0) << program.stderrText();
    EXPECT_THAT(tidewell::testing::readBytes(ini), HasSubstr("[GPS]\nGPSDATE=0\nCOMPORT=None"));
    panel.reset();
    xserver.waitExit(5000, SIGTERM);
}

}  // namespace
