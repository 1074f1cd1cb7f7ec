// The program on a real X server: the tray icon under a tray host, the window it restores,
// hide and exit, and the window shown at start where no tray host runs.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool onPath(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A child process with its output in files, ended (if still running) when dropped.
class Child {
public:
    Child(std::vector<std::string> args, const fs::path& out, const fs::path& err) {
        pid_ = ::fork();
        if (pid_ != 0) return;
        ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ~Child() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGTERM);
            wait(5s);
            if (!status_) ::kill(pid_, SIGKILL), ::waitpid(pid_, nullptr, 0);
        }
    }
    // The exit status once it has ended within `limit`.
    std::optional<int> wait(std::chrono::milliseconds limit) {
        for (auto end = std::chrono::steady_clock::now() + limit;
             !status_ && std::chrono::steady_clock::now() < end;
             std::this_thread::sleep_for(20ms)) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_)
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        return status_;
    }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

std::string run(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
        ::pclose(p);
    }
    return out;
}

bool eventually(const std::function<bool()>& check, std::chrono::milliseconds limit = 10s) {
    for (auto end = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(50ms))
        if (check()) return true;
    return check();
}

// The mapped windows whose name or class matches, as xdotool lists them.
std::string mapped(const std::string& how) {
    return run("xdotool search --onlyvisible " + how + " 2>/dev/null");
}

struct DesktopTest : ::testing::Test {
    fs::path dir;
    std::unique_ptr<Child> xserver, trayHost, program;

    void SetUp() override {
        for (const char* tool : {"Xvfb", "xdotool", "trayer"})
            if (!onPath(tool)) GTEST_SKIP() << tool << " is not installed (scripts/deps.sh)";
        dir = fs::temp_directory_path() / ("tidewell-x-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);

        int display = 100 + ::getpid() % 400;
        while (fs::exists("/tmp/.X11-unix/X" + std::to_string(display)) ||
               fs::exists("/tmp/.X" + std::to_string(display) + "-lock"))
            ++display;
        xserver = std::make_unique<Child>(
            std::vector<std::string>{"Xvfb", ":" + std::to_string(display), "-screen", "0",
                                     "800x600x24", "-nolisten", "tcp"},
            dir / "xvfb.out", dir / "xvfb.err");
        ::setenv("DISPLAY", (":" + std::to_string(display)).c_str(), 1);
        ASSERT_TRUE(eventually([] {
            return std::system("xdotool getmouselocation >/dev/null 2>&1") == 0;
        })) << readFile(dir / "xvfb.err");
        ::unsetenv("WAYLAND_DISPLAY");
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        ::setenv("LSAN_OPTIONS", "suppressions=" TIDEWELL_QT_TESTS "/lsan.supp", 1);

        std::ofstream(dir / "Tidewell.ini") << "[UDP]\nSendUDP= 1\nUDPaddress=127.0.0.1\n";
    }

    void TearDown() override {
        program.reset();
        trayHost.reset();
        xserver.reset();
        if (!dir.empty()) fs::remove_all(dir);
    }

    void startTrayHost() {
        trayHost = std::make_unique<Child>(
            std::vector<std::string>{"trayer", "--edge", "top", "--align", "right", "--widthtype",
                                     "request", "--height", "24", "--transparent", "false"},
            dir / "trayer.out", dir / "trayer.err");
        ASSERT_TRUE(eventually([] { return !mapped("--class trayer").empty(); }));
    }

    void startProgram() {
        program = std::make_unique<Child>(std::vector<std::string>{TIDEWELL_BINARY_DIR "/tidewell",
                                                                   "--no-set-clock", "--settings",
                                                                   (dir / "Tidewell.ini").string()},
                                          dir / "program.out", dir / "program.err");
    }

    std::string window() { return mapped("--name '^Tidewell$'"); }

    // Clicks at a point given in twips from the window's client area (96 DPI: 15 a pixel).
    void clickInWindow(int leftTwips, int topTwips) {
        run("xdotool mousemove --window " + window().substr(0, window().find('\n')) + " " +
            std::to_string(leftTwips / 15) + " " + std::to_string(topTwips / 15) + " click 1");
    }

    void screenshot() {
        static int argc = 1;
        static char name[] = "test_desktop_x";
        static char* argv[] = {name, nullptr};
        // Gone before its X server is: a lost connection ends the process.
        QGuiApplication app(argc, argv);
        fs::create_directories(TIDEWELL_BINARY_DIR "/artifacts");
        QGuiApplication::primaryScreen()->grabWindow(0).save(TIDEWELL_BINARY_DIR
                                                             "/artifacts/window.png");
    }
};

TEST_F(DesktopTest, TrayIconRestoresTheWindowWhichHidesAndExits) {
    startTrayHost();
    startProgram();
    std::string icon;
    ASSERT_TRUE(eventually([&] { return !(icon = mapped("--class tidewell")).empty(); }))
        << readFile(dir / "program.err");
    EXPECT_TRUE(window().empty()) << "hidden at start";

    for (const char* button : {"1", "3"}) {
        SCOPED_TRACE(std::string("button ") + button);
        run("xdotool mousemove --window " + icon.substr(0, icon.find('\n')) + " 8 8 click " +
            button);
        ASSERT_TRUE(eventually([&] { return !window().empty(); }));
        if (*button == '1') screenshot();
        clickInWindow(2400 + 1125 / 2, 5790 + 375 / 2);  // Hide Program
        EXPECT_TRUE(eventually([&] { return window().empty(); }));
    }

    run("xdotool mousemove --window " + icon.substr(0, icon.find('\n')) + " 8 8 click 1");
    ASSERT_TRUE(eventually([&] { return !window().empty(); }));
    clickInWindow(4140 + 1275 / 2, 5760 + 375 / 2);  // Close and Exit
    EXPECT_EQ(program->wait(10s), 0) << readFile(dir / "program.err");
    EXPECT_NE(readFile(dir / "Tidewell.ini").find("[GPS]\nGPSDATE=0\nCOMPORT=None"),
              std::string::npos)
        << readFile(dir / "Tidewell.ini");
    EXPECT_EQ(readFile(dir / "program.err").find("no system tray"), std::string::npos);
}

TEST_F(DesktopTest, WithoutATrayHostTheWindowShowsAtStart) {
    startProgram();
    EXPECT_TRUE(eventually([&] { return !window().empty(); })) << readFile(dir / "program.err");
    const std::string err = readFile(dir / "program.err");
    const auto told = err.find("no system tray");
    EXPECT_NE(told, std::string::npos) << err;
    EXPECT_EQ(err.find("no system tray", told + 1), std::string::npos) << err;
    ::kill(program->pid(), SIGTERM);
    EXPECT_EQ(program->wait(10s), 0) << readFile(dir / "program.err");
}

}  // namespace
