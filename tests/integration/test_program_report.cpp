// The program's report on standard output: a reader that stalls or leaves costs only lines,
// and start-up tells where the settings are and how odd values were read. Always
// --no-set-clock; UDP only to a loopback address of this test's own.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>

#include "child_process.h"

namespace tidewell {
namespace {

namespace fs = std::filesystem;
using testing::ChildProcess;
using testing::Clock;
using namespace std::chrono_literals;

const std::string kProgram = TIDEWELL_BINARY_DIR "/tidewell";
const std::string kDisplayAddress = "127.0.0." + std::to_string(2 + ::getpid() % 250);

// The program on a settings file of its own, in a folder removed afterwards.
struct ReportRun {
    fs::path dir;
    std::optional<ChildProcess> program;
    int display = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);

    explicit ReportRun(const std::string& settings) {
        const int on = 1;
        ::setsockopt(display, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(16000);
        ::inet_pton(AF_INET, kDisplayAddress.c_str(), &addr.sin_addr);
        std::string home = (fs::temp_directory_path() / "tidewell-report-XXXXXX").string();
        if (::bind(display, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            !::mkdtemp(home.data()))
            return;
        dir = home;
        std::ofstream(file()) << settings;
        program.emplace(
            kProgram,
            std::vector<std::string>{"--headless", "--no-set-clock", "--settings", file()},
            std::vector<std::string>{"HOME=" + home, "XDG_CONFIG_HOME=" + home});
    }
    ~ReportRun() {
        program.reset();
        ::close(display);
        std::error_code ec;
        if (!dir.empty()) fs::remove_all(dir, ec);
    }
    std::string file() const { return (dir / "Tidewell.ini").string(); }

    int datagramsWithin(std::chrono::milliseconds wait) {
        int count = 0;
        char frame[64];
        const auto deadline = Clock::now() + wait;
        for (pollfd p{display, POLLIN, 0}; Clock::now() < deadline; ::poll(&p, 1, 50))
            while (::recv(display, frame, sizeof frame, 0) >= 0) ++count;
        return count;
    }
};

// Whether `pid` ends within the wait, without reading its output; waitExit() collects it.
bool endsWithin(pid_t pid, std::chrono::milliseconds wait) {
    for (const auto deadline = Clock::now() + wait; Clock::now() < deadline; ::usleep(10000)) {
        siginfo_t info{};
        if (::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == pid)
            return true;
    }
    return false;
}

TEST(ProgramReport, ReaderThatStallsOrLeavesCostsOnlyLines) {
    if (!fs::exists(kProgram)) GTEST_SKIP() << "the program is not built";
    for (const bool leaves : {false, true}) {
        SCOPED_TRACE(leaves ? "reader leaves after a line, as | head -1" : "reader stalls");
        ReportRun run("[UDP]\nSENDUDP= 1\nUDPADDRESS=" + kDisplayAddress +
                      "\nUDPRATE=once per second\n");
        ASSERT_TRUE(run.program);
        ChildProcess& program = *run.program;
        ASSERT_FALSE(program.line(0).empty());
        const int out = program.stdoutFd();
        if (leaves) {
            const int nothing = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            ::dup3(nothing, out, O_CLOEXEC);  // closes the pipe's one read end
            ::close(nothing);
        } else {
            // A write end of the test's own fills the pipe, as a reader that stopped leaves it.
            const int in = ::open(("/proc/self/fd/" + std::to_string(out)).c_str(),
                                  O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            ASSERT_GE(in, 0);
            for (const std::string page(4096, '.'); ::write(in, page.data(), page.size()) > 0;) {
            }
            ::close(in);
        }
        EXPECT_GE(run.datagramsWithin(3500ms), 3) << "frames go on";
        program.signal(SIGTERM);
        EXPECT_TRUE(endsWithin(program.pid(), 2s)) << "SIGTERM is heard";
        EXPECT_EQ(program.waitExit(1000), 0);
    }
}

TEST(ProgramReport, StartTellsTheSettingsFileAndOddValuesAndRefusesAMissingFolder) {
    if (!fs::exists(kProgram)) GTEST_SKIP() << "the program is not built";
    ReportRun run("[GPS]\nCOMPORT=COM99\nGPSDATE=yes\n[Ports]\nCOM1=/nonexistent/receiver\n"
                  "[Analog]\nBATTERYSAVE=5\n[UDP]\nUDPRATE=hourly\n");
    ASSERT_TRUE(run.program);
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < 6; ++i) lines.push_back(run.program->line(i));
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "settings: " + run.file(),
                         R"(settings: [Analog] BatterySave "5" cannot be used (Invalid property )"
                         "value); left at 0",
                         R"(settings: [GPS] COMPORT "COM99" is not one of None, COM1..COM8; read )"
                         "as COM1",
                         R"(settings: [GPS] GPSdate "yes" is read as 0)",
                         R"(settings: [UDP] UDPrate "hourly" is not one of once per second, once )"
                         "per minute, once per hour, once per day; read as once per second",
                         "gps port: COM99 /nonexistent/receiver closed, sets time only"}));
    run.program->signal(SIGTERM);
    EXPECT_EQ(run.program->waitExit(3000), 0);

    const std::string gone = (run.dir / "gone" / "Tidewell.ini").string();
    ChildProcess missing(kProgram, {"--headless", "--no-set-clock", "--settings", gone});
    EXPECT_EQ(missing.waitExit(3000), 2);
    EXPECT_EQ(missing.stdoutText() + "|" + missing.stderrText(),
              "|tidewell: --settings " + gone + ": the folder " + (run.dir / "gone").string() +
                  " does not exist\n");
}

}  // namespace
}  // namespace tidewell
