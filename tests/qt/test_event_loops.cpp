// Both Linux event loops, Qt's for the window and the epoll one without Qt, held to the same
// expectations: ticks on the realtime clock's boundaries, single shots, readiness, quitting,
// registrations dropped from their own callbacks, and the stop signals.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <memory>

#include "app/linux/event_loop_linux.h"
#include "app/linux/stop_signals_linux.h"
#include "app/qt/event_loop_qt.h"

namespace tidewell {
namespace {

using Token = EventLoop::Token;

struct AnyLoop {
    virtual ~AnyLoop() = default;
    virtual EventLoop& loop() = 0;
    virtual Token watchStopSignals(EventLoop::Callback onStop) = 0;
    // Until quit; its status.
    virtual int run() = 0;
};

struct QtLoop : AnyLoop {
    QtLoop() {
        static int argc = 1;
        static char name[] = "test_event_loops", *argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }
    EventLoop& loop() override { return qt; }
    Token watchStopSignals(EventLoop::Callback c) override { return qt.watchStopSignals(c); }
    int run() override { return QCoreApplication::exec(); }
    QtEventLoop qt;
};

struct EpollLoop : AnyLoop {
    EventLoop& loop() override { return epoll; }
    Token watchStopSignals(EventLoop::Callback c) override { return epoll.watchStopSignals(c); }
    int run() override { return epoll.run(); }
    LinuxEventLoop epoll;
};

class EventLoops : public testing::TestWithParam<std::string> {
protected:
    // As a program started with `nohup` has it.
    static void SetUpTestSuite() {
        ::signal(SIGHUP, SIG_IGN);
        takeStopSignals();
    }
    std::unique_ptr<AnyLoop> any = GetParam() == "Qt"
                                       ? std::unique_ptr<AnyLoop>(std::make_unique<QtLoop>())
                                       : std::make_unique<EpollLoop>();
    EventLoop& loop = any->loop();
};

long long msIntoPeriod(int periodMs) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(now).count() % periodMs;
}

TEST_P(EventLoops, TicksFallOnTheClocksBoundariesAndTimersFireOnceUnlessDropped) {
    constexpr int kPeriodMs = 200;
    std::vector<long long> offsets;
    int once = 0, dropped = 0, selfDropping = 0;
    Token selfDrop;
    const Token ticks = loop.everyPeriod(kPeriodMs, [&] {
        offsets.push_back(msIntoPeriod(kPeriodMs));
        if (offsets.size() == 5) loop.quit(0);
    });
    const Token single = loop.after(50, [&] { ++once; });
    loop.after(30, [&] { ++dropped; });  // its registration is dropped at once
    selfDrop = loop.everyPeriod(100, [&] { ++selfDropping, selfDrop.reset(); });
    EXPECT_EQ(any->run(), 0);
    // Ten times what the frame lag benchmark sees on a loaded machine.
    for (long long offset : offsets) EXPECT_LT(offset, 50);
    EXPECT_EQ(offsets.size(), 5u);
    EXPECT_EQ(once, 1);
    EXPECT_EQ(dropped, 0);
    EXPECT_EQ(selfDropping, 1);
}

// One descriptor watched for reading and writing at once; the status quit with comes back.
TEST_P(EventLoops, ReadinessOfEachDescriptorComesToItsWatchesAndRunReturnsTheQuitStatus) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair), 0);
    std::string heard;
    Token canWrite, reply, answer;
    canWrite = loop.watchWritable(pair[0], [&] {
        EXPECT_EQ(::write(pair[0], "x", 1), 1);
        canWrite.reset();
    });
    reply = loop.watchReadable(pair[1], [&] {
        char c;
        if (::read(pair[1], &c, 1) == 1 && ::write(pair[1], "y", 1) == 1) heard += c;
    });
    answer = loop.watchReadable(pair[0], [&] {
        char c;
        if (::read(pair[0], &c, 1) == 1) heard += c, answer.reset(), loop.quit(7);
    });
    EXPECT_EQ(any->run(), 7);
    EXPECT_EQ(heard, "xy");
    reply.reset();
    ::close(pair[0]), ::close(pair[1]);
}

TEST_P(EventLoops, StopSignalsComeThroughTheLoopAndOnesIgnoredAtStartStayIgnored) {
    int stops = 0;
    const Token watch = any->watchStopSignals([&] { ++stops; });
    const Token later = loop.after(100, [&] { loop.quit(stops); });
    ::raise(SIGHUP);
    ::raise(SIGTERM);
    EXPECT_EQ(any->run(), 1);
}

INSTANTIATE_TEST_SUITE_P(Linux, EventLoops, testing::Values("Qt", "Epoll"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace tidewell
