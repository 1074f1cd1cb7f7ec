// The status of the running Linux program, always --no-set-clock: `tidewell --status` and
// --json against it, the socket's mode against another user, abuse that must not cost a
// frame, the metrics file read by the format's own parser, and a receiver without a fix.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "child_process.h"

namespace tidewell {
namespace {

namespace fs = std::filesystem;
using testing::ChildProcess;
using testing::Clock;
using namespace std::chrono_literals;

const std::string kProgram = TIDEWELL_BINARY_DIR "/tidewell";
const std::string kSim = TIDEWELL_BINARY_DIR "/tools/nmea-sim";
const std::string kDisplay = "127.0.0." + std::to_string(2 + ::getpid() % 250);

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines) text += l + "\n";
    return text;
}

// A folder of its own, traversable by others so another user reaches the socket's own mode.
struct Folder {
    fs::path dir;
    Folder() {
        std::string name = (fs::temp_directory_path() / "tidewell-status-XXXXXX").string();
        if (!::mkdtemp(name.data())) throw std::runtime_error("cannot make a folder");
        dir = name;
        fs::permissions(dir, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string socket() const { return (dir / "status").string(); }
};

struct StatusRun {
    Folder folder;
    std::optional<ChildProcess> program;
    void start(const std::string& settings) {
        std::ofstream(folder.dir / "Tidewell.ini") << settings;
        program.emplace(kProgram,
                        std::vector<std::string>{"--headless", "--no-set-clock", "--settings",
                                                 (folder.dir / "Tidewell.ini").string(),
                                                 "--status-socket", folder.socket()},
                        std::vector<std::string>{"TZ=UTC", "HOME=" + folder.dir.string()});
    }
    bool untilLine(const std::string& prefix, std::chrono::seconds wait) {
        for (const auto end = Clock::now() + wait; Clock::now() < end; ::usleep(50'000)) {
            program->pump();
            for (const auto& l : program->lines())
                if (l.starts_with(prefix)) return true;
        }
        return false;
    }
    // `tidewell --status ARGS`: its exit status and standard output.
    std::pair<int, std::string> ask(std::vector<std::string> args = {}) const {
        args.insert(args.begin(), {"--status", "--status-socket", folder.socket()});
        ChildProcess client(kProgram, args);
        const int status = client.waitExit(20'000);
        return {status, joined(client.lines()) + client.stderrText()};
    }
};

int connected(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    path.copy(a.sun_path, sizeof a.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return ::close(fd), -1;
    return fd;
}

// Everything up to the end, or what came within the wait.
std::string answer(int fd, int waitMs = 20'000) {
    std::string text, got;
    for (const auto end = Clock::now() + std::chrono::milliseconds(waitMs); Clock::now() < end;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) != 1) continue;
        char b[4096];
        const ssize_t n = ::read(fd, b, sizeof b);
        if (n <= 0) break;
        text.append(b, std::size_t(n));
    }
    return text;
}

std::string python(const std::string& script, const std::vector<std::string>& args) {
    std::vector<std::string> all{"-c", script};
    all.insert(all.end(), args.begin(), args.end());
    ChildProcess p("/usr/bin/python3", all);
    p.waitExit(30'000);
    return joined(p.lines()) + p.stderrText();
}

// The seconds of the UTC frames read, as instants; frames carry "*ssmmhhMMDDYYYY".
std::vector<time_t> frameSeconds(int udp) {
    std::vector<time_t> out;
    char b[64];
    for (ssize_t n; (n = ::recv(udp, b, sizeof b, MSG_DONTWAIT)) == 35;) {
        std::tm t{};
        if (::strptime(std::string(b + 1, 14).c_str(), "%S%M%H%m%d%Y", &t))
            out.push_back(::timegm(&t));
    }
    return out;
}

// A receiver with some bad sentences, both outputs on. The status names every part; then 1 MB
// requests, silent clients, 100 at once and random bytes go on while the frames keep their
// seconds; another user is refused; the metrics file the program leaves agrees with its
// last status.
TEST(StatusOfTheProgram, TellsEveryPartStaysOnTimeUnderAbuseAndItsMetricsAgree) {
    if (!fs::exists("/usr/bin/python3") ||
        std::system("/usr/bin/python3 -c 'import prometheus_client' 2>/dev/null") != 0)
        GTEST_SKIP() << "no python3-prometheus-client (scripts/deps.sh installs it)";
    int udp = -1;
    testing::boundUdp(udp, kDisplay.c_str(), 16000);
    testing::Pty display;
    auto sim = std::make_unique<ChildProcess>(
        kSim, std::vector<std::string>{"--void", "4", "--bad-checksum", "5"});
    StatusRun run;
    const std::string gps = sim->line(0, 3000);
    run.start("[UDP]\nUDPADDRESS=" + kDisplay +
              "\nSENDUDP= 1\nUDPRATE=once per second\n"
              "[GPS]\nCOMPORT=COM1\n[SerialSync]\nSENDSYNC= 1\nCOMPORT=COM2\n"
              "SERIALRATE=once per second\nTIMEUTC=True\n[Ports]\nBAUD=auto\nCOM1=" +
              gps + "\nCOM2=" + display.path() + "\n[Status]\nMETRICS=metrics.prom\n");
    ASSERT_TRUE(run.untilLine("gps port: COM1 at 4800 baud (BAUD=auto)", 15s));
    ASSERT_TRUE(run.untilLine("gps: ", 5s));
    const auto firstTime = Clock::now();
    std::this_thread::sleep_for(2s);

    struct stat st {};
    ASSERT_EQ(::stat(run.folder.socket().c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0660u);
    auto [status, text] = run.ask();
    EXPECT_EQ(status, 0) << text;
    for (const std::string& item : std::vector<std::string>{
             "tidewell: ok\n",
             "\nreceiver:     COM1 (" + gps + "), open, 4800 baud (found by BAUD=auto)\n",
             "\n  state:      valid; last valid sentence ", " valid, ", " status V, ",
             " checksum, ", " other rejects\n", "\n  phase:      RMC first byte ",
             "\nclock:        set once a minute, whole second + 1 s advance (--no-set-clock: never "
             "changed)\n",
             "\n  last set:   ", "\n  refused:    never\n",
             "\nserial sync:  on, COM2 (" + display.path() + "), once per second; ",
             "\nudp sync:     on, to " + kDisplay + ":16000, once per second; ",
             "\nsettings:     " + (run.folder.dir / "Tidewell.ini").string() + "; ",
             "\nprogram:      Tidewell ", ", priority "})
        EXPECT_NE(text.find(item), std::string::npos) << item << " in\n" << text;
    std::tie(status, text) = run.ask({"--json"});
    EXPECT_EQ(status, 0) << text;
    EXPECT_EQ(
        python("import json,sys; d=json.loads(sys.argv[1]); "
               "print(d['health'], d['receiver']['state'], d['receiver']['baud'], "
               "d['clock']['mode'], d['outputs']['udp']['on'], d['outputs']['serial']['failing'])",
               {text}),
        "ok valid 4800 whole_second True False\n");

    // Abuse, with a thread of its own so the frames are read meanwhile.
    frameSeconds(udp);
    std::vector<std::string> answers;
    std::thread abuse([&] {
        const int big = connected(run.folder.socket());
        const std::string mb(1 << 20, 'x');
        std::size_t sent = 0;
        for (ssize_t n; sent < mb.size() &&
                        (n = ::send(big, mb.data() + sent, mb.size() - sent, MSG_NOSIGNAL)) > 0;)
            sent += std::size_t(n);
        answers.push_back(answer(big)), ::close(big);
        const int silent = connected(run.folder.socket());
        answers.push_back(answer(silent)), ::close(silent);
        std::vector<int> many;
        std::mt19937 random(1);
        for (int i = 0; i < 100; ++i) many.push_back(connected(run.folder.socket()));
        for (std::size_t i = 0; i < many.size(); ++i) {
            std::string request = "status\n";
            if (i % 2) {
                request.assign(std::uniform_int_distribution(1, 300)(random), '\0');
                for (char& c : request) c = char(random());
            }
            ::send(many[i], request.data(), request.size(), MSG_NOSIGNAL);
        }
        for (const int fd : many) answers.push_back(answer(fd)), ::close(fd);
    });
    std::vector<time_t> seconds;
    while (answers.size() < 102) {
        std::this_thread::sleep_for(200ms);
        for (const time_t t : frameSeconds(udp)) seconds.push_back(t);
    }
    abuse.join();
    std::this_thread::sleep_for(1500ms);
    for (const time_t t : frameSeconds(udp)) seconds.push_back(t);
    ASSERT_GE(seconds.size(), 2u);
    for (std::size_t i = 1; i < seconds.size(); ++i)
        EXPECT_EQ(seconds[i], seconds[i - 1] + 1) << "a frame a second throughout";
    EXPECT_EQ(answers[1], "error: no request within 2 s\n") << "the silent client";
    std::size_t ok = 0;
    for (std::size_t i = 2; i < answers.size(); ++i) {
        ok += answers[i].starts_with("tidewell: ok\n");
        EXPECT_TRUE(answers[i].starts_with("tidewell: ") || answers[i].starts_with("error: "))
            << answers[i];
    }
    EXPECT_GE(ok, 1u);
    EXPECT_EQ(run.ask().first, 0) << "still answering";

    // Another user cannot connect.
    ChildProcess nobody("/usr/bin/setpriv",
                        {"--reuid=nobody", "--regid=nogroup", "--clear-groups", kProgram,
                         "--status", "--status-socket", run.folder.socket()});
    EXPECT_EQ(nobody.waitExit(20'000), 3);
    EXPECT_NE(nobody.stderrText().find("Permission denied"), std::string::npos);

    // The receiver goes after a dozen RMC sentences, some of each kind; its counts stop. The
    // file the program leaves as it stops agrees.
    std::this_thread::sleep_until(firstTime + 12s);
    sim.reset();
    ASSERT_TRUE(run.untilLine("gps port: COM1 closed", 10s));
    std::tie(status, text) = run.ask({"--json"});
    EXPECT_EQ(run.program->waitExit(5000, SIGTERM), 0);
    ::close(udp);
    EXPECT_EQ(python(R"(
import json, sys
from prometheus_client.parser import text_string_to_metric_families as families
m = {(s.name, tuple(s.labels.items())): s.value
     for f in families(open(sys.argv[1]).read()) for s in f.samples}
d = json.loads(sys.argv[2])
want = {('tidewell_up', ()): 0, ('tidewell_build_info', (('version', d['version']),)): 1}
for k, v in d['receiver']['sentences_total'].items():
    want[('tidewell_gps_sentences_total', (('result', k),))] = v
for k in ('set', 'refused'):
    want[('tidewell_clock_updates_total', (('result', k),))] = d['clock']['updates_' + k]
for k in ('serial', 'udp'):
    want[('tidewell_frames_failed_total', (('output', k),))] = d['outputs'][k]['frames_failed']
    sent = m[('tidewell_frames_sent_total', (('output', k),))] - d['outputs'][k]['frames_sent']
    print(k, 'frames after the status:', 'a few' if 0 <= sent <= 3 else sent)
print([(k, m.get(k), v) for k, v in want.items() if m.get(k) != v], len(m),
      d['receiver']['sentences_total']['status_v'] > 0, d['receiver']['sentences_total']['checksum'] > 0)
)",
                     {(run.folder.dir / "metrics.prom").string(), text}),
              "serial frames after the status: a few\nudp frames after the status: a few\n[] 16 "
              "True True\n");
}

// No program: told so. A receiver that sends only status V: degraded once a minute has passed
// without valid time, and the answer says why.
TEST(StatusOfTheProgram, NoProgramIsToldAndAReceiverWithoutAFixIsDegradedAfterAMinute) {
    StatusRun run;
    auto [status, text] = run.ask();
    EXPECT_EQ(status, 2);
    EXPECT_EQ(text, "tidewell is not running (no status socket at " + run.folder.socket() + ")\n");

    ChildProcess sim(kSim, {"--void", "1"});
    run.start("[UDP]\nUDPADDRESS=127.0.0.1\nSENDUDP= 0\n[GPS]\nCOMPORT=COM1\n[Ports]\nCOM1=" +
              sim.line(0, 3000) + "\n");
    ASSERT_TRUE(run.untilLine("priority: ", 10s));
    const auto started = Clock::now();
    while (Clock::now() - started < 150s) {
        std::tie(status, text) = run.ask();
        if (status != 0) break;
        std::this_thread::sleep_for(2s);
    }
    const auto waited = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started);
    EXPECT_EQ(status, 1) << text;
    EXPECT_TRUE(text.starts_with("tidewell: degraded: no valid time for 1 min ")) << text;
    EXPECT_NE(text.find("no valid fix (status V)"), std::string::npos) << text;
    std::printf("degraded after %lld s\n", static_cast<long long>(waited.count()));
}

}  // namespace
}  // namespace tidewell
