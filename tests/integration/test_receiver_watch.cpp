// The receiver read on the loop without a window from a pseudo-terminal written a byte at a
// time at 4800 baud's pace, as a UART hands bytes over: the loop wakes about once a sentence,
// not once a byte, and a sentence's first byte after a quiet line is stamped when it came.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "app/linux/event_loop_linux.h"
#include "devices/nmea_decode.h"
#include "devices/nmea_receiver.h"
#include "devices/receiver_watch.h"

namespace tidewell {
namespace {

using Steady = std::chrono::steady_clock;
using namespace std::chrono_literals;

long wakeUps() {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw;
}

std::string sentence(int i) {
    const std::string body = "GPRMC,1200" + std::to_string(10 + i) +
                             ".00,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W,A";
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", unsigned(nmeaChecksum(body)));
    return "$" + body + tail;
}

TEST(ReceiverWatch, ABytePacedLineWakesTheLoopAboutOnceASentenceAndStampsItsFirstByte) {
    constexpr int kSentences = 5;
    constexpr auto kCharTime = 10'000'000'000ns / 4800;
    int master = -1, slave = -1;
    char name[256];
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    PortNmeaReceiver receiver([&](int port) { return port == 1 ? std::string(name) : ""; },
                              DateWindow{});
    receiver.PortNumber = 1;
    receiver.OpenPort();
    LinuxEventLoop loop;
    ReceiverWatch watch(receiver, loop);
    watch.follow();
    std::vector<Steady::time_point> stamps;
    receiver.SentenceReceived = [&](const NmeaSentence& s) {
        stamps.push_back(s.arrived);
        if (stamps.size() == kSentences) loop.quit(0);
    };

    std::vector<Steady::time_point> written(kSentences);
    std::size_t bytes = 0;
    std::thread writer([&] {
        for (int i = 0; i < kSentences; ++i) {
            std::this_thread::sleep_for(50ms);  // a quiet line
            const std::string text = sentence(i);
            auto next = Steady::now();
            written[i] = next;
            for (char c : text) {
                std::this_thread::sleep_until(next);
                if (::write(master, &c, 1) != 1) return;
                next += kCharTime;
            }
            bytes += text.size();
        }
    });
    const auto giveUp = loop.after(10'000, [&] { loop.quit(1); });
    const long before = wakeUps();
    const int status = loop.run();
    const long wakes = wakeUps() - before;
    writer.join();
    ASSERT_EQ(status, 0);
    ASSERT_EQ(stamps.size(), std::size_t(kSentences));
    // About three a sentence (its '$', the rest, the line end's last byte) against about 75.
    EXPECT_LT(wakes, long(bytes / 5)) << bytes << " bytes";
    // Ten times what scripts/bench.sh latency --precise sees on a loaded machine.
    for (int i = 0; i < kSentences; ++i) {
        EXPECT_GE(stamps[i], written[i]);
        EXPECT_LT(stamps[i] - written[i], 30ms) << "sentence " << i;
    }
    ::close(slave), ::close(master);
}

// Bytes faster than the line's speed (a USB receiver, a program on a pty) come in whole
// sentences or packets: such a line is read as it comes, never paused, until it is reopened.
TEST(ReceiverWatch, ALineFasterThanItsSpeedIsNeverLeftAlone) {
    int master = -1, slave = -1;
    char name[256];
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    PortNmeaReceiver receiver([&](int port) { return port == 1 ? std::string(name) : ""; },
                              DateWindow{});
    receiver.PortNumber = 1;
    receiver.OpenPort();
    const auto readAfter = [&](const std::string& bytes) {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        std::this_thread::sleep_for(20ms);
        receiver.handleReadable();
    };
    const std::string half = sentence(0).substr(0, 40);
    readAfter(half);
    EXPECT_GT(receiver.restOfSentence(), 0ns) << "as a UART's first bytes";
    // Four sentences and a half within 20 ms: 4800 baud carries ten bytes.
    readAfter(sentence(1) + sentence(2) + sentence(3) + sentence(4) + half);
    EXPECT_EQ(receiver.restOfSentence(), 0ns);
    std::this_thread::sleep_for(1s);
    readAfter(half);
    EXPECT_EQ(receiver.restOfSentence(), 0ns);
    receiver.OpenPort();
    readAfter(half);
    EXPECT_GT(receiver.restOfSentence(), 0ns);
    ::close(slave), ::close(master);
}

}  // namespace
}  // namespace tidewell
