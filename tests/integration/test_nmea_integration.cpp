// The receiver on real pseudo-terminals, and nmea-sim driving it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "../devices/test_nmea_corpus.h"
#include "devices/nmea_decode.h"
#include "devices/nmea_receiver_posix.h"
#include "platform/error.h"

extern char** environ;

namespace tidewell {
namespace {

using Clock = std::chrono::steady_clock;
using testing::kEarlyDate;

// The far side of a pseudo-terminal: what the GPS receiver would write into.
class Pty {
public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
            if (const char* name = ptsname(master_)) path_ = name;
        }
        if (master_ >= 0) fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() { closeMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return master_ >= 0 && !path_.empty(); }
    int master() const { return master_; }
    const std::string& path() const { return path_; }
    void closeMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    std::string path_;
};

struct Recorder {
    std::vector<NmeaSentence> sentences;
    int stateChanges = 0;

    void attach(PosixNmeaReceiver& r) {
        r.SentenceReceived = [this](const NmeaSentence& s) { sentences.push_back(s); };
        r.PortStateChanged = [this] { ++stateChanges; };
    }
    std::vector<std::string> rmcUtc() const {
        std::vector<std::string> out;
        for (const auto& s : sentences)
            if (s.TypeID == "RMC" && s.utc) out.push_back(formatUtcMillis(*s.utc));
        return out;
    }
    int count(const std::string& type) const {
        int n = 0;
        for (const auto& s : sentences) n += s.TypeID == type;
        return n;
    }
};

PosixNmeaReceiver receiverOn(const std::string& path, CivilDate earliest = kEarlyDate) {
    return PosixNmeaReceiver([path](int) { return path; }, earliest);
}

std::string withChecksum(const std::string& body) {
    char sum[4];
    std::snprintf(sum, sizeof sum, "%02X", nmeaChecksum(body));
    return "$" + body + "*" + sum;
}

// Writes `bytes` into the master while serving the receiver, until `done` or the timeout.
bool pump(Pty& pty, PosixNmeaReceiver& receiver, std::string_view bytes,
          const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done() && Clock::now() < deadline) {
        pollfd fds[2] = {{receiver.readFd(), POLLIN, 0}, {-1, POLLOUT, 0}};
        if (!bytes.empty()) fds[1].fd = pty.master();
        if (::poll(fds, 2, 50) < 0) return false;
        if (fds[1].revents & POLLOUT) {
            const ssize_t n = ::write(pty.master(), bytes.data(), std::min<std::size_t>(bytes.size(), 512));
            if (n > 0) bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        if (fds[0].revents) receiver.handleReadable();
        if (!receiver.isOpen()) break;
    }
    return done();
}

TEST(NmeaPty, LogsDecodeAsExpected) {
    const auto logs = testing::nmeaLogs();
    if (logs.empty()) GTEST_SKIP() << "no NMEA logs in '" << testing::nmeaLogsDir() << "'";
    const std::string endMark = "\r\n" + withChecksum("PTWEND") + "\r\n";
    for (const auto& log : logs) {
        SCOPED_TRACE(log.filename().string());
        Pty pty;
        ASSERT_TRUE(pty.ok());
        auto receiver = receiverOn(pty.path());
        Recorder rec;
        rec.attach(receiver);
        receiver.PortNumber = 1;
        receiver.OpenPort();
        const std::string bytes = testing::readBytes(log) + endMark;
        ASSERT_TRUE(pump(pty, receiver, bytes, [&] { return rec.count("PTWEND") > 0; },
                         std::chrono::seconds(20)));
        EXPECT_EQ(rec.rmcUtc(), testing::expectedDeliveries(testing::readExpected(log), kEarlyDate));
        EXPECT_TRUE(receiver.isOpen());
    }
}

TEST(NmeaPty, UnplugClosesThePortPromptly) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    auto receiver = receiverOn(pty.path());
    Recorder rec;
    rec.attach(receiver);
    receiver.PortNumber = 2;
    receiver.OpenPort();
    ASSERT_TRUE(receiver.isOpen());
    EXPECT_EQ(rec.stateChanges, 1);

    pty.closeMaster();
    const auto start = Clock::now();
    for (int i = 0; i < 20 && receiver.isOpen(); ++i) {
        pollfd p{receiver.readFd(), POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 1000), 1) << "an unplugged device must wake the loop";
        receiver.handleReadable();
    }
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_FALSE(receiver.isOpen());
    EXPECT_EQ(receiver.readFd(), -1);
    EXPECT_EQ(rec.stateChanges, 2);
    receiver.handleReadable();  // a late notification is harmless
    receiver.ClosePort();
    EXPECT_EQ(rec.stateChanges, 2);
}

TEST(NmeaPty, SecondOpenerIsToldTheDeviceIsBusy) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    auto first = receiverOn(pty.path());
    auto second = receiverOn(pty.path());
    first.PortNumber = second.PortNumber = 3;
    first.OpenPort();
    try {
        second.OpenPort();
        FAIL() << "two receivers share one device";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), EBUSY);
        EXPECT_EQ(e.description(), "COM3 (" + pty.path() + "): Device or resource busy");
    }
    EXPECT_FALSE(second.isOpen());
    EXPECT_TRUE(first.isOpen());
    first.ClosePort();
    EXPECT_NO_THROW(second.OpenPort()) << "free again once closed";
}

TEST(NmeaPty, ReopeningDropsTheSentenceCutOff) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    auto receiver = receiverOn(pty.path());
    Recorder rec;
    rec.attach(receiver);
    receiver.PortNumber = 1;
    receiver.OpenPort();
    const std::string gga = withChecksum("GPGGA,120000,4807.038,N");
    const std::string head = gga.substr(0, 12), tail = gga.substr(12) + "\r\n";
    const auto written = [&](std::string_view s) {
        return ::write(pty.master(), s.data(), s.size()) == static_cast<ssize_t>(s.size());
    };
    ASSERT_TRUE(written(head));
    pollfd p{receiver.readFd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 1000), 1);
    receiver.handleReadable();
    receiver.ClosePort();
    receiver.OpenPort();
    ASSERT_TRUE(pump(pty, receiver, tail + gga + "\r\n", [&] { return !rec.sentences.empty(); },
                     std::chrono::seconds(2)));
    pump(pty, receiver, "", [] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(rec.count("GGA"), 1);
}

TEST(NmeaPty, HandlerMayClosePortMidBatch) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    auto receiver = receiverOn(pty.path());
    int delivered = 0;
    receiver.SentenceReceived = [&](const NmeaSentence&) {
        ++delivered;
        receiver.ClosePort();
    };
    receiver.PortNumber = 1;
    receiver.OpenPort();
    const std::string gga = withChecksum("GPGGA,1") + "\r\n";
    const std::string three = gga + gga + gga;
    ASSERT_EQ(::write(pty.master(), three.data(), three.size()), static_cast<ssize_t>(three.size()));
    for (int i = 0; i < 20 && receiver.isOpen(); ++i) {
        pollfd p{receiver.readFd(), POLLIN, 0};
        if (::poll(&p, 1, 100) > 0) receiver.handleReadable();
    }
    EXPECT_EQ(delivered, 1);
    EXPECT_FALSE(receiver.isOpen());
}

// nmea-sim, started as a child with its stdout on a pipe.
class Sim {
public:
    explicit Sim(std::vector<std::string> args) {
        const std::string exe = std::string(TIDEWELL_BINARY_DIR) + "/tools/nmea-sim";
        if (!std::filesystem::exists(exe)) return;
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        args.insert(args.begin(), exe);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        readFirstLine(out[0]);
        ::close(out[0]);
    }
    ~Sim() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Sim(const Sim&) = delete;
    Sim& operator=(const Sim&) = delete;

    const std::string& path() const { return path_; }
    pid_t pid() const { return pid_; }
    // The exit code, or -1 when it ended otherwise or not within the timeout.
    int wait(std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        int status = 0;
        while (pid_ > 0 && Clock::now() < deadline) {
            const pid_t r = ::waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            ::usleep(10'000);
        }
        return -1;
    }

private:
    void readFirstLine(int fd) {
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        std::string line;
        char c = 0;
        while (Clock::now() < deadline) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            if (::read(fd, &c, 1) != 1 || c == '\n') break;
            line.push_back(c);
        }
        if (c == '\n') path_ = line;
    }

    pid_t pid_ = -1;
    std::string path_;
};

// Serves the receiver until the simulator's line hangs up (it exits) or the timeout.
void serveUntilClosed(PosixNmeaReceiver& receiver, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (receiver.isOpen() && Clock::now() < deadline) {
        pollfd p{receiver.readFd(), POLLIN, 0};
        if (::poll(&p, 1, 50) > 0) receiver.handleReadable();
    }
}

TEST(NmeaSim, ReceiverGetsWhatTheSimulatorSends) {
    Sim sim({"--start", "2024-02-29T23:59:58", "--rate", "3", "--count", "6", "--bad-checksum",
             "3", "--junk", "2", "--void", "5"});
    if (sim.pid() <= 0) GTEST_SKIP() << "nmea-sim not built";
    ASSERT_FALSE(sim.path().empty());
    auto receiver = receiverOn(sim.path());
    Recorder rec;
    rec.attach(receiver);
    receiver.PortNumber = 1;
    receiver.OpenPort();
    serveUntilClosed(receiver, std::chrono::seconds(10));
    EXPECT_FALSE(receiver.isOpen()) << "the simulator's exit hangs up the line";
    // Sentences 3 and 6 carry bad checksums, 5 is void; junk precedes 2, 4 and 6.
    EXPECT_EQ(rec.rmcUtc(), (std::vector<std::string>{"2024-02-29T23:59:58.000",
                                                      "2024-02-29T23:59:59.000",
                                                      "2024-03-01T00:00:01.000"}));
    EXPECT_EQ(rec.count("GGA"), 6);
    EXPECT_EQ(sim.wait(std::chrono::seconds(2)), 0);
}

TEST(NmeaSim, ReplaysAFileAndStopsOnSigterm) {
    const auto file = std::filesystem::temp_directory_path() / ("nmea-replay-" + std::to_string(::getpid()));
    {
        std::FILE* f = std::fopen(file.c_str(), "wb");
        ASSERT_TRUE(f);
        const std::string text = "\xb5\x62 junk\r\n" +
                                 withChecksum("GNRMC,081836.75,A,3751.65,S,14507.36,E,,,130998,,") +
                                 "\r\n" + withChecksum("PGRME,15.0,M") + "\r\n";
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    {
        Sim sim({"--replay", file.string()});
        if (sim.pid() <= 0) GTEST_SKIP() << "nmea-sim not built";
        auto receiver = receiverOn(sim.path());
        Recorder rec;
        rec.attach(receiver);
        receiver.PortNumber = 1;
        receiver.OpenPort();
        serveUntilClosed(receiver, std::chrono::seconds(5));
        EXPECT_EQ(rec.rmcUtc(), std::vector<std::string>{"1998-09-13T08:18:36.750"});
        EXPECT_EQ(rec.count("PGRME"), 1);
        EXPECT_EQ(sim.wait(std::chrono::seconds(2)), 0);
    }
    std::filesystem::remove(file);

    Sim running({});
    ASSERT_GT(running.pid(), 0);
    ASSERT_FALSE(running.path().empty());
    ASSERT_EQ(::kill(running.pid(), SIGTERM), 0);
    EXPECT_EQ(running.wait(std::chrono::seconds(2)), 0) << "a clean exit on SIGTERM";
}

}  // namespace
}  // namespace tidewell
