// nmea-check, the built tool, against the receiver logs: from the file and through a pty.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "../devices/test_nmea_corpus.h"
#include "child_process.h"

namespace tidewell {
namespace {

namespace fs = std::filesystem;
using testing::ChildProcess;
using Clock = std::chrono::steady_clock;

const std::string kNmeaCheck = TIDEWELL_BINARY_DIR "/tools/nmea-check";

std::string withChecksum(std::string_view body) {
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X", nmeaChecksum(body));
    return "$" + std::string(body) + tail;
}

// The delivered RMC times in nmea-check's output, in order.
std::vector<std::string> rmcTimes(const ChildProcess& check) {
    static const std::regex utc(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3})");
    std::vector<std::string> out;
    for (const auto& l : check.lines())
        if (std::regex_match(l.text, utc)) out.push_back(l.text);
    return out;
}

std::vector<fs::path> logsOrSkip() {
    auto logs = testing::nmeaLogs();
    if (!fs::exists(kNmeaCheck)) logs.clear();
    return logs;
}

#define SKIP_WITHOUT_LOGS(logs)                                                                 \
    if (logs.empty())                                                                           \
    GTEST_SKIP() << "no NMEA logs in '" << testing::nmeaLogsDir() << "' or no " << kNmeaCheck

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "nmea-check-XXXXXX").string();
        if (::mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

TEST(NmeaCheckFile, LogsDecodeAsExpected) {
    const auto logs = logsOrSkip();
    SKIP_WITHOUT_LOGS(logs);
    for (const auto& log : logs) {
        SCOPED_TRACE(log.filename().string());
        ChildProcess check(kNmeaCheck, {"--earliest", "1980-01-01", log.string()});
        ASSERT_EQ(check.waitExit(10000), 0);
        EXPECT_EQ(rmcTimes(check),
                  testing::expectedDeliveries(testing::readExpected(log), testing::kEarlyDate));
    }
}

// Without --earliest every log is older than the build, so each RMC that would otherwise
// be delivered is rejected by its date, in order and quoted as the log has it.
TEST(NmeaCheckFile, BuildDateRejectsEveryOlderLog) {
    const auto logs = logsOrSkip();
    SKIP_WITHOUT_LOGS(logs);
    const std::regex beforeBuild(R"(rejected: before \d{4}-\d\d-\d\d: (.*))");
    for (const auto& log : logs) {
        SCOPED_TRACE(log.filename().string());
        ChildProcess check(kNmeaCheck, {log.string()});
        ASSERT_EQ(check.waitExit(10000), 0);
        EXPECT_TRUE(rmcTimes(check).empty());
        std::vector<std::string> rejected, expected;
        for (const auto& l : check.lines())
            if (std::smatch m; std::regex_match(l.text, m, beforeBuild)) rejected.push_back(m[1]);
        for (const auto& row : testing::readExpected(log))
            if (row.checksum == "1" && row.status == "A" && row.utc != "invalid")
                expected.push_back(row.sentence);
        EXPECT_EQ(rejected, expected);
    }
}

// The week-rollover date: a valid fix dated 1999 must not pass the default earliest date,
// while a fix dated today does.
TEST(NmeaCheckFile, RolloverDateRejectedTodayAccepted) {
    if (!fs::exists(kNmeaCheck)) GTEST_SKIP() << "no " << kNmeaCheck;
    const time_t now = ::time(nullptr);
    tm u{};
    ::gmtime_r(&now, &u);
    char today[16], todayIso[16];
    std::strftime(today, sizeof today, "%d%m%y", &u);
    std::strftime(todayIso, sizeof todayIso, "%Y-%m-%d", &u);
    const std::string rollover = withChecksum("GPRMC,000425.00,A,4807.038,N,01131.000,E,,,220899,,,A");
    const std::string current =
        withChecksum("GPRMC,120000.50,A,4807.038,N,01131.000,E,,," + std::string(today) + ",,,A");

    TempDir dir;
    const fs::path file = dir.path() / "two.nmea";
    std::ofstream(file, std::ios::binary) << rollover << "\r\n" << current << "\r\n";

    ChildProcess byBuildDate(kNmeaCheck, {file.string()});
    ASSERT_EQ(byBuildDate.waitExit(10000), 0);
    ASSERT_EQ(byBuildDate.lines().size(), 2u) << byBuildDate.stdoutText();
    EXPECT_TRUE(byBuildDate.lines()[0].text.starts_with("rejected: before ")) << byBuildDate.stdoutText();
    EXPECT_TRUE(byBuildDate.lines()[0].text.ends_with(": " + rollover));
    EXPECT_EQ(byBuildDate.lines()[1].text, std::string(todayIso) + "T12:00:00.500");

    ChildProcess by1980(kNmeaCheck, {"--earliest", "1980-01-01", file.string()});
    ASSERT_EQ(by1980.waitExit(10000), 0);
    EXPECT_EQ(rmcTimes(by1980),
              (std::vector<std::string>{"1999-08-22T00:04:25.000", std::string(todayIso) + "T12:00:00.500"}));
}

// The far side of a pseudo-terminal, for nmea-check --device on the near side.
class PtyPair {
public:
    PtyPair() {
        if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) return;
        // The child must not inherit the master, or closing it here would not hang up.
        ::fcntl(master_, F_SETFD, FD_CLOEXEC);
        ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        if (const char* name = ::ttyname(slave_)) path_ = name;
    }
    ~PtyPair() {
        closeMaster();
        if (slave_ >= 0) ::close(slave_);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0 && !path_.empty(); }
    int master() const { return master_; }
    const std::string& path() const { return path_; }
    void closeMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

    // The reader has opened its end once the line is raw; bytes written before that would
    // meet the default line discipline (echo, CR to LF).
    bool waitUntilRaw(int waitMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
        termios tio{};
        while (Clock::now() < deadline) {
            if (::tcgetattr(master_, &tio) == 0 && !(tio.c_lflag & ICANON)) return true;
            ::usleep(5000);
        }
        return false;
    }

private:
    int master_ = -1, slave_ = -1;
    std::string path_;
};

// Writes all of bytes into the master in chunks while draining the child's output; true
// once a line starting with `until` has come out.
bool feed(PtyPair& pty, ChildProcess& check, std::string_view bytes, const std::string& until,
          std::chrono::seconds limit) {
    const auto deadline = Clock::now() + limit;
    std::size_t seen = 0;
    while (Clock::now() < deadline) {
        pollfd fds[2] = {{check.stdoutFd(), POLLIN, 0},
                         {pty.master(), static_cast<short>(bytes.empty() ? 0 : POLLOUT), 0}};
        ::poll(fds, 2, 100);
        if (fds[1].revents & POLLOUT) {
            const ssize_t n = ::write(pty.master(), bytes.data(), std::min<std::size_t>(bytes.size(), 300));
            if (n > 0) bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        if (!check.pump()) return false;
        for (; seen < check.lines().size(); ++seen)
            if (check.lines()[seen].text.starts_with(until)) return true;
    }
    return false;
}

TEST(NmeaCheckDevice, LogsDecodeAsExpectedThroughAPty) {
    const auto logs = logsOrSkip();
    SKIP_WITHOUT_LOGS(logs);
    const std::string endMark = "\r\n" + withChecksum("PTWEND") + "\r\n";
    for (const auto& log : logs) {
        SCOPED_TRACE(log.filename().string());
        PtyPair pty;
        ASSERT_TRUE(pty.ok());
        ChildProcess check(kNmeaCheck,
                           {"--device", pty.path(), "--earliest", "1980-01-01", "--idle", "20"});
        ASSERT_TRUE(pty.waitUntilRaw(5000));
        ASSERT_TRUE(feed(pty, check, testing::readBytes(log) + endMark, "PTWEND", std::chrono::seconds(20)));
        // The device going away ends the run.
        pty.closeMaster();
        EXPECT_EQ(check.waitExit(3000), 0);
        EXPECT_EQ(rmcTimes(check),
                  testing::expectedDeliveries(testing::readExpected(log), testing::kEarlyDate));
    }
}

TEST(NmeaCheckDevice, IdleEndsTheRunAfterTheLastByte) {
    if (!fs::exists(kNmeaCheck)) GTEST_SKIP() << "no " << kNmeaCheck;
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    ChildProcess check(kNmeaCheck, {"--device", pty.path(), "--earliest", "1980-01-01", "--idle", "0.5"});
    ASSERT_TRUE(pty.waitUntilRaw(5000));
    const std::string rmc = withChecksum("GPRMC,081836.75,A,3751.65,S,14507.36,E,000.0,360.0,130998,011.3,E");
    ASSERT_TRUE(feed(pty, check, rmc + "\r\n", "1998-09-13T08:18:36.750", std::chrono::seconds(5)));
    const auto lastByte = Clock::now();
    EXPECT_EQ(check.waitExit(3000), 0);
    const auto idle = Clock::now() - lastByte;
    EXPECT_GE(idle, std::chrono::milliseconds(400));
    EXPECT_LT(idle, std::chrono::milliseconds(1500));
}

TEST(NmeaCheckOptions, BadIdleAndIdleWithoutDeviceAreUsageErrors) {
    if (!fs::exists(kNmeaCheck)) GTEST_SKIP() << "no " << kNmeaCheck;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--device", "/dev/null", "--idle", "0"},
          std::vector<std::string>{"--device", "/dev/null", "--idle", "soon"},
          std::vector<std::string>{"--idle", "1", "some.log"}}) {
        ChildProcess check(kNmeaCheck, args);
        EXPECT_EQ(check.waitExit(3000), 2) << args[args.size() - 2] << " " << args.back();
    }
}

}  // namespace
}  // namespace tidewell
