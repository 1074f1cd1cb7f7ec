// The receiver on real pseudo-terminals, fed by the logs and by nmea-sim; nmea-check on the logs.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>

#include "../devices/test_nmea_corpus.h"
#include "child_process.h"
#include "devices/nmea_decode.h"
#include "gps/date_value.h"
#include "devices/nmea_receiver_posix.h"
#include "platform/error.h"

namespace tidewell {
namespace {

namespace fs = std::filesystem;
using testing::ChildProcess;
using testing::Clock;
using testing::kAnyDate;
using testing::Pty;
using namespace std::chrono_literals;

const std::string kNmeaCheck = TIDEWELL_BINARY_DIR "/tools/nmea-check";
const std::string kNmeaSim = TIDEWELL_BINARY_DIR "/tools/nmea-sim";

std::string withChecksum(std::string_view body) {
    char sum[4];
    std::snprintf(sum, sizeof sum, "%02X", nmeaChecksum(body));
    return "$" + std::string(body) + "*" + sum;
}

struct Recorder {
    std::vector<std::string> rmcUtc, types;
    int stateChanges = 0;

    explicit Recorder(PosixNmeaReceiver& r) {
        r.SentenceReceived = [this](const NmeaSentence& s) {
            types.push_back(s.TypeID);
            if (s.TypeID == "RMC" && s.utc) rmcUtc.push_back(formatUtcMillis(*s.utc));
        };
        r.PortStateChanged = [this] { ++stateChanges; };
    }
    long count(const std::string& type) const {
        return std::count(types.begin(), types.end(), type);
    }
};

struct ReceiverOn : PosixNmeaReceiver {
    explicit ReceiverOn(const std::string& path)
        : PosixNmeaReceiver([path](int) { return path; }, kAnyDate) {
        PortNumber = 1;
    }
};

// Serves the receiver, writing `bytes` into the master while there are any, until `done`,
// a hang-up or the timeout.
bool serve(PosixNmeaReceiver& receiver, std::string_view bytes, int master,
           const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done() && receiver.isOpen() && Clock::now() < deadline) {
        pollfd fds[2] = {{receiver.readFd(), POLLIN, 0}, {bytes.empty() ? -1 : master, POLLOUT, 0}};
        ::poll(fds, 2, 50);
        if (fds[1].revents & POLLOUT) {
            const ssize_t n =
                ::write(master, bytes.data(), std::min<std::size_t>(bytes.size(), 512));
            if (n > 0) bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        if (fds[0].revents) receiver.handleReadable();
    }
    return done();
}

// nmea-check's delivered RMC times, in order.
std::vector<std::string> checkedTimes(const std::vector<std::string>& args) {
    ChildProcess check(kNmeaCheck, args);
    EXPECT_EQ(check.waitExit(10000), 0);
    static const std::regex utc(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3})");
    std::vector<std::string> out;
    for (const auto& l : check.lines())
        if (std::regex_match(l, utc)) out.push_back(l);
    return out;
}

TEST(NmeaLogs, ReceiverThroughAPtyAndNmeaCheckDeliverTheExpected) {
    const auto logs = testing::nmeaLogs();
    ASSERT_TRUE(fs::exists(kNmeaCheck));
    const std::string endMark = "\r\n" + withChecksum("PTWEND") + "\r\n";
    for (const auto& log : logs) {
        SCOPED_TRACE(log.filename().string());
        const auto expected = testing::expectedDeliveries(testing::readExpected(log), kAnyDate);
        Pty pty;
        ASSERT_TRUE(pty.ok());
        ReceiverOn receiver(pty.path());
        Recorder rec(receiver);
        receiver.OpenPort();
        ASSERT_TRUE(serve(
            receiver, testing::readBytes(log) + endMark, pty.master(),
            [&] { return rec.count("PTWEND") > 0; }, 20s));
        EXPECT_EQ(rec.rmcUtc, expected) << "receiver";
        EXPECT_EQ(checkedTimes({"--earliest", "1980-01-01", log.string()}), expected)
            << "nmea-check";
    }
}

// The week-rollover date: a valid fix dated 1999 must not pass the default earliest date. The
// recent fix is dated tomorrow (UTC): the build date is the build's local one, maybe ahead of UTC.
TEST(NmeaLogs, BuildDateRejectsAnOldFixAndAcceptsARecentOne) {
    ASSERT_TRUE(fs::exists(kNmeaCheck));
    const time_t tomorrow = std::time(nullptr) + 86400;
    char date[16], iso[16];
    std::strftime(date, sizeof date, "%d%m%y", std::gmtime(&tomorrow));
    std::strftime(iso, sizeof iso, "%Y-%m-%d", std::gmtime(&tomorrow));
    const fs::path file =
        fs::temp_directory_path() / ("rollover-" + std::to_string(::getpid()) + ".nmea");
    std::ofstream(file, std::ios::binary)
        << withChecksum("GPRMC,000425.00,A,4807.038,N,01131.000,E,,,220899,,,A") << "\r\n"
        << withChecksum("GPRMC,120000.50,A,4807.038,N,01131.000,E,,," + std::string(date) + ",,,A")
        << "\r\n";
    EXPECT_EQ(checkedTimes({file.string()}),
              std::vector<std::string>{std::string(iso) + "T12:00:00.500"});
    fs::remove(file);
}

TEST(NmeaPty, UnplugClosesThePortPromptlyWithoutSpinning) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    ReceiverOn receiver(pty.path());
    Recorder rec(receiver);
    receiver.OpenPort();
    ASSERT_TRUE(receiver.isOpen());

    pty.closeMaster();
    const auto start = Clock::now();
    int wakeUps = 0;
    for (; receiver.isOpen() && wakeUps < 20; ++wakeUps) {
        pollfd p{receiver.readFd(), POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 1000), 1) << "an unplugged device must wake the loop";
        receiver.handleReadable();
    }
    EXPECT_LT(wakeUps, 3) << "the hang-up is seen at once, not read over and over";
    EXPECT_LT(Clock::now() - start, 500ms);
    EXPECT_FALSE(receiver.isOpen());
    EXPECT_EQ(receiver.readFd(), -1) << "nothing left for the loop to poll";
    EXPECT_EQ(rec.stateChanges, 2) << "opened, then closed";
    receiver.handleReadable();  // a late notification is harmless
}

TEST(NmeaPty, AnUnpluggedDeviceStaysWantedUntilItOpensAgain) {
    auto pty = std::make_unique<Pty>();
    ASSERT_TRUE(pty->ok());
    std::string path = pty->path();
    PosixNmeaReceiver receiver([&](int) { return path; }, kAnyDate);
    receiver.PortNumber = 1;
    receiver.OpenPort();
    pty->closeMaster();
    for (int i = 0; i < 5 && receiver.isOpen(); ++i) receiver.handleReadable();
    ASSERT_FALSE(receiver.isOpen());
    EXPECT_TRUE(receiver.deviceLost());

    pty.reset();  // the device is gone for good
    EXPECT_THROW(receiver.OpenPort(), Error);
    EXPECT_TRUE(receiver.deviceLost()) << "a failed retry keeps it wanted";

    Pty replugged;
    path = replugged.path();
    receiver.OpenPort();
    EXPECT_TRUE(receiver.isOpen());
    EXPECT_FALSE(receiver.deviceLost());
    receiver.ClosePort();
    EXPECT_FALSE(receiver.deviceLost()) << "a port the user closed is not reopened";
}

// A port held by another receiver, and a recording that would be replayed on every reopen.
TEST(NmeaPty, OnlyOneReceiverHoldsThePortAndOnlyADevice) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    ReceiverOn first(pty.path());
    first.OpenPort();
    const std::string file = TIDEWELL_NMEA_LOGS_DIR "/neo-m8n.log";
    const std::pair<std::string, std::string> rows[] = {
        {pty.path(), "Opening COM1 (" + pty.path() + "): Device or resource busy"},
        {file, "COM1 (" + file + ") is not a serial device"},
        {"/dev/null", "COM1 (/dev/null) is not a serial device"},
    };
    for (const auto& [path, error] : rows) {
        ReceiverOn second(path);
        try {
            second.OpenPort();
            ADD_FAILURE() << path << " opened";
        } catch (const Error& e) {
            EXPECT_EQ(e.description(), error);
        }
        EXPECT_FALSE(second.isOpen());
    }
    EXPECT_TRUE(first.isOpen());
}

// A byte-paced line wakes the reader for every byte: each wake-up costs one read, not a second
// one only to hear EAGAIN.
TEST(NmeaPty, OneReadPerByteOnAByteByByteLine) {
    const auto readCalls = [] {
        std::ifstream io("/proc/self/io");
        long value = -1;
        for (std::string key; io >> key >> value;)
            if (key == "syscr:") return value;
        return -1L;
    };
    Pty pty;
    ASSERT_TRUE(pty.ok());
    ReceiverOn receiver(pty.path());
    Recorder rec(receiver);
    receiver.OpenPort();
    const std::string bytes = withChecksum("GPGGA,120000,4807.038,N") + "\r\n";
    const long before = readCalls();
    for (char c : bytes) {
        ASSERT_EQ(::write(pty.master(), &c, 1), 1);
        pollfd p{receiver.readFd(), POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 1000), 1);
        receiver.handleReadable();
    }
    // A few more for reading /proc/self/io itself.
    EXPECT_LE(readCalls() - before, static_cast<long>(bytes.size()) + 3);
    EXPECT_EQ(rec.count("GGA"), 1);
}

// Byte by byte at 4800-baud pace, and a sentence per write at a rate beyond the line's, which
// drops the pacing: 6 pairs then take 1 s, not 1.8 s (plus the 0.5 s linger either way).
TEST(NmeaSim, ReceiverGetsWhatTheSimulatorSends) {
    for (const auto& [chunk, rate, within] :
         {std::tuple("byte", "3", 10s), std::tuple("sentence", "6", 2s)}) {
        SCOPED_TRACE(chunk);
        const auto started = Clock::now();
        ChildProcess sim(kNmeaSim,
                         {"--start", "2024-02-29T23:59:58", "--rate", rate, "--count", "6",
                          "--bad-checksum", "3", "--junk", "2", "--void", "5", "--chunk", chunk});
        const std::string device = sim.line(0);
        ASSERT_FALSE(device.empty()) << "nmea-sim did not name its pty";
        ReceiverOn receiver(device);
        Recorder rec(receiver);
        receiver.OpenPort();
        serve(
            receiver, "", -1, [] { return false; }, within);
        EXPECT_FALSE(receiver.isOpen()) << "the simulator's exit hangs up the line";
        EXPECT_LT(Clock::now() - started, within);
        // Sentences 3 and 6 carry bad checksums, 5 is void; junk precedes 2, 4 and 6.
        EXPECT_EQ(rec.rmcUtc,
                  (std::vector<std::string>{"2024-02-29T23:59:58.000", "2024-02-29T23:59:59.000",
                                            "2024-03-01T00:00:01.000"}));
        EXPECT_EQ(rec.count("GGA"), 6);
        const std::map<std::string, std::uint64_t> rejected{{"checksum mismatch", 2},
                                                            {"status V", 1}};
        EXPECT_EQ(receiver.takeTally().rejected, rejected);
        EXPECT_EQ(sim.waitExit(2000), 0);
    }
}

}  // namespace
}  // namespace tidewell
