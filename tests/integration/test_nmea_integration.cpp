// The receiver and the serial display on real pseudo-terminals, the receiver fed by the logs
// and by nmea-sim.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "child_process.h"
#include "devices/nmea_decode.h"
#include "devices/nmea_receiver.h"
#include "devices/serial_port.h"
#include "gps/date_value.h"
#include "nmea_logs.h"
#include "platform/error.h"

namespace tidewell {
namespace {

using testing::ChildProcess;
using testing::Clock;
using testing::Pty;
using namespace std::chrono_literals;

const std::string kNmeaSim = TIDEWELL_BINARY_DIR "/tools/nmea-sim";

const std::string kEndMark = "\r\n" + testing::withChecksum("PTWEND") + "\r\n";

// COM1 on `path`, as the receiver, recording what it delivers, and as the serial display.
struct Com1 {
    std::string path;
    PortNmeaReceiver receiver{[this](int) { return path; }, testing::kAnyDate};
    LineSerialPort display{[this](int) { return path; }};
    std::vector<std::string> rmcUtc, others;

    explicit Com1(std::string device) : path(std::move(device)) {
        receiver.PortNumber = display.CommPort = 1;
        receiver.SentenceReceived = [this](const NmeaSentence& s) {
            if (s.TypeID != "RMC")
                others.push_back(s.TypeID);
            else if (s.utc)
                rmcUtc.push_back(formatUtcMillis(*s.utc));
        };
    }

    // Reads until the end mark, a hang-up or the timeout, meanwhile writing `bytes` into
    // `master`. True when the end mark came.
    bool serve(std::string_view bytes, int master, std::chrono::milliseconds timeout) {
        const auto ended = [&] { return !others.empty() && others.back() == "PTWEND"; };
        for (const auto deadline = Clock::now() + timeout;
             !ended() && receiver.isOpen() && Clock::now() < deadline;) {
            pollfd fds[2] = {{int(receiver.readHandle()), POLLIN, 0},
                             {bytes.empty() ? -1 : master, POLLOUT, 0}};
            ::poll(fds, 2, 50);
            if (fds[1].revents & POLLOUT) {
                const ssize_t n =
                    ::write(master, bytes.data(), std::min<std::size_t>(bytes.size(), 512));
                if (n > 0) bytes.remove_prefix(static_cast<std::size_t>(n));
            }
            if (fds[0].revents) receiver.handleReadable();
        }
        return ended();
    }
};

TEST(NmeaLogs, EveryLogDecodesAsExpectedThroughAPty) {
    for (const auto& log : testing::nmeaLogs()) {
        SCOPED_TRACE(log.filename().string());
        const auto expected = testing::expectedDeliveries(log);
        Pty pty;
        Com1 gps(pty.path());
        gps.receiver.OpenPort();
        ASSERT_TRUE(gps.serve(testing::readBytes(log) + kEndMark, pty.master(), 20s));
        EXPECT_EQ(gps.rmcUtc, expected);
    }
}

// Byte by byte at 4800-baud pace, 6 pairs in 2 s plus the 0.5 s linger. A byte-paced line wakes
// the reader for about every byte; each wake-up costs one read, not a second one only to hear
// EAGAIN.
TEST(NmeaSim, ReceiverGetsWhatTheSimulatorSendsWithOneReadPerWakeUp) {
    const auto readCalls = [] {
        std::ifstream io("/proc/self/io");
        std::uint64_t value = 0;
        for (std::string key; io >> key >> value;)
            if (key == "syscr:") return value;
        return value;
    };
    const auto started = Clock::now();
    ChildProcess sim(kNmeaSim, {"--start", "2024-02-29T23:59:58", "--rate", "3", "--count", "6",
                                "--bad-checksum", "3", "--junk", "2", "--void", "5", "--chunk",
                                "byte"});
    Com1 gps(sim.line(0));
    gps.receiver.OpenPort();
    const auto readsBefore = readCalls();
    gps.serve("", -1, 10s);
    const auto reads = readCalls() - readsBefore;
    EXPECT_FALSE(gps.receiver.isOpen()) << "the simulator's exit hangs up the line";
    EXPECT_LT(Clock::now() - started, 10s);
    // Sentences 3 and 6 carry bad checksums, 5 is void; junk precedes 2, 4 and 6.
    EXPECT_EQ(gps.rmcUtc, (std::vector<std::string>{"2024-02-29T23:59:58.000",
                                                    "2024-02-29T23:59:59.000",
                                                    "2024-03-01T00:00:01.000"}));
    EXPECT_EQ(gps.others, std::vector<std::string>(6, "GGA"));
    const auto tally = gps.receiver.takeTally();
    EXPECT_EQ(tally.rejected, (std::map<std::string, std::uint64_t>{{"checksum mismatch", 2},
                                                                    {"status V", 1}}));
    // A few more for the hang-up and for reading /proc/self/io itself.
    EXPECT_LE(reads, tally.bytes + 3);
    EXPECT_EQ(sim.waitExit(2000), 0);
}

// 38400 is the third speed tried: two misses of 3 s each on noise, then what the receiver sends.
TEST(NmeaSim, NmeaCheckFindsTheReceiversSpeedThroughNoise) {
    ChildProcess sim(kNmeaSim, {"--baud", "38400", "--start", "2026-03-01T00:00:00", "--rate",
                                "3", "--count", "33", "--junk", "2", "--chunk", "sentence"});
    const std::string kNmeaCheck = TIDEWELL_BINARY_DIR "/tools/nmea-check";
    ChildProcess check(kNmeaCheck, {"--earliest", "2026-01-01", "--device", sim.line(0)});
    EXPECT_EQ(check.waitExit(20000), 0);
    EXPECT_EQ(check.stderrText(), "nmea-check: 38400 baud\n");
    // Nothing passes from the noise (two windows of 3 s at least, 9 pairs each); what follows
    // the switch does.
    std::size_t rmc = 0;
    for (const auto& line : check.lines())
        if (line != "GGA") {
            EXPECT_TRUE(line.starts_with("2026-03-01T00:00:")) << line;
            ++rmc;
        }
    EXPECT_GE(rmc, 10u);
    EXPECT_LE(rmc, 33u - 18u);
}

// The delay nmea-sim plays, as nmea-check --phase measures it against the same clock.
TEST(NmeaSim, NmeaCheckPhaseMeasuresTheReceiversDelay) {
    ChildProcess sim(kNmeaSim, {"--delay", "300", "--chunk", "sentence"});
    ChildProcess check(TIDEWELL_BINARY_DIR "/tools/nmea-check",
                       {"--phase", "3", "--device", sim.line(0)});
    ASSERT_EQ(check.waitExit(8000), 0) << check.stderrText();
    double median = 0;
    int delayMs = 0;
    ASSERT_EQ(std::sscanf(check.line(1).c_str(), "  median %lf", &median), 1) << check.line(1);
    ASSERT_EQ(std::sscanf(check.line(3).c_str(), "  this receiver's delay: DELAYMS=%d", &delayMs),
              1);
    EXPECT_GE(median, 0.300);
    EXPECT_LT(median, 0.310);
    EXPECT_EQ(delayMs, std::lround(median * 1000));
    double fast = 0;
    ASSERT_EQ(std::sscanf(check.line(2).c_str(), "  the default setting (whole second + 1 s) "
                                                 "leaves the PC clock %lf s fast", &fast),
              1)
        << check.line(2);
    // The default sets once the whole sentence, about 150 ms at 4800 baud, is in.
    EXPECT_LT(fast, 1 - median - 0.1) << "1 s advance less the delay";
    EXPECT_GT(fast, 1 - median - 0.3) << "1 s advance less the delay";
}

// A port another receiver holds, a recording that would be replayed on every reopen.
TEST(PortsOnPtys, OnlyOneHolderAndOnlyATerminalOpens) {
    Pty pty;
    Com1 holder(pty.path());
    holder.receiver.OpenPort();
    const std::string file = TIDEWELL_NMEA_LOGS_DIR "/neo-m8n.log";
    const std::string busy = "Opening COM1 (" + pty.path() + "): Device or resource busy";
    const struct {
        const char* what;
        bool receiver;
        std::string path, error;
    } rows[] = {
        {"a second receiver on the port", true, pty.path(), busy},
        {"the display on the receiver's port", false, pty.path(), busy},
        {"a recording as the receiver", true, file, "COM1 (" + file + ") is not a serial device"},
        {"/dev/null as the display", false, "/dev/null",
         "Opening COM1 (/dev/null): Inappropriate ioctl for device"},
    };
    for (const auto& r : rows) {
        Com1 port(r.path);
        try {
            r.receiver ? port.receiver.OpenPort() : port.display.PortOpen(true);
            ADD_FAILURE() << r.what << " opened";
        } catch (const Error& e) {
            EXPECT_EQ(e.description(), r.error) << r.what;
        }
        EXPECT_FALSE(port.receiver.isOpen() || port.display.PortOpen()) << r.what;
    }
    holder.receiver.ClosePort();
    holder.display.PortOpen(true);
    EXPECT_TRUE(holder.display.PortOpen()) << "closing releases the port";
}

// Both devices unplugged: each stays wanted through a failed retry until it is back; one
// closed on purpose is forgotten.
TEST(PortsOnPtys, AnUnpluggedPortStaysWantedThroughFailedRetriesUntilItOpens) {
    std::unique_ptr<Pty> gpsPty, displayPty;
    Com1 gps(""), serial("");
    const auto plugIn = [&] {
        gpsPty = std::make_unique<Pty>();
        displayPty = std::make_unique<Pty>();
        gps.path = gpsPty->path();
        serial.path = displayPty->path();
    };
    // The freed pty numbers are soon another test's: the devices are gone for good.
    const auto unplug = [&] {
        gpsPty.reset();
        displayPty.reset();
        gps.path = serial.path = "/nonexistent/tty";
        gps.receiver.handleReadable();
        try {
            serial.display.Output(std::string(35, '0'));
        } catch (const Error& e) {
            return e.number();
        }
        return 0;
    };
    const auto lost = [&] {
        return std::pair(gps.receiver.deviceLost(), serial.display.deviceLost());
    };
    plugIn();
    gps.receiver.OpenPort();
    serial.display.PortOpen(true);
    EXPECT_EQ(unplug(), errors::kCollidingSystemErrorBase + EIO)
        << "EIO is 5, the number of an invalid date";
    EXPECT_THROW(gps.receiver.OpenPort(), Error);
    EXPECT_THROW(serial.display.reopenLost(), Error);
    EXPECT_EQ(lost(), std::pair(true, true)) << "unplugged, and a failed retry keeps them wanted";
    plugIn();
    gps.receiver.OpenPort();
    serial.display.reopenLost();
    EXPECT_TRUE(gps.receiver.isOpen() && serial.display.PortOpen());
    EXPECT_EQ(lost(), std::pair(false, false));
    unplug();
    gps.receiver.ClosePort();
    serial.display.PortOpen(false);
    EXPECT_EQ(lost(), std::pair(false, false)) << "a port closed on purpose is not reopened";
}

}  // namespace
}  // namespace tidewell
