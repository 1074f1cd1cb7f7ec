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
#include <tuple>

#include "app/linux/event_loop_linux.h"
#include "app/linux/stop_signals_linux.h"
#include "app/qt/event_loop_qt.h"

namespace tidewell {
namespace {

using Token = EventLoop::Token;
using namespace std::chrono_literals;

class EventLoops : public testing::TestWithParam<std::string> {
protected:
    // As a program started with `nohup` has it.
    static void SetUpTestSuite() {
        ::signal(SIGHUP, SIG_IGN);
        takeStopSignals();
    }
    static std::unique_ptr<QtEventLoop> qtLoop() {
        static int argc = 1;
        static char name[] = "test_event_loops", *argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
        return std::make_unique<QtEventLoop>();
    }
    std::unique_ptr<QtEventLoop> qt = GetParam() == "Qt" ? qtLoop() : nullptr;
    std::unique_ptr<LinuxEventLoop> epoll = qt ? nullptr : std::make_unique<LinuxEventLoop>();
    EventLoop& loop = qt ? static_cast<EventLoop&>(*qt) : *epoll;
    // Until quit; its status.
    int run() { return qt ? QCoreApplication::exec() : epoll->run(); }
    Token watchStopSignals(EventLoop::Callback onStop) {
        return qt ? qt->watchStopSignals(onStop) : epoll->watchStopSignals(onStop);
    }
};

TEST_P(EventLoops, TicksFallOnTheClocksBoundariesAndTimersFireOnceUnlessDropped) {
    constexpr int kPeriodMs = 200;
    std::vector<long long> offsets;
    int once = 0, dropped = 0, selfDropping = 0;
    Token selfDrop;
    const Token ticks = loop.everyPeriod(kPeriodMs, [&] {
        offsets.push_back(std::chrono::system_clock::now().time_since_epoch() / 1ms % kPeriodMs);
        if (offsets.size() == 5) loop.quit(0);
    });
    const Token single = loop.after(50, [&] { ++once; });
    loop.after(30, [&] { ++dropped; });  // its registration is dropped at once
    selfDrop = loop.everyPeriod(100, [&] { ++selfDropping, selfDrop.reset(); });
    EXPECT_EQ(run(), 0);
    // Ten times what the frame lag benchmark sees on a loaded machine.
    for (long long offset : offsets) EXPECT_LT(offset, 50);
    EXPECT_EQ(std::tuple(offsets.size(), once, dropped, selfDropping), std::tuple(5u, 1, 0, 1))
        << "ticks, single shot, dropped at once, dropped in its own callback";
}

// One descriptor watched for reading and writing at once; the status quit with comes back.
// The stop signals come through the loop, and SIGHUP, ignored at start, stays ignored.
TEST_P(EventLoops, ReadinessComesToItsWatchesRunReturnsTheQuitStatusAndStopSignalsComeThrough) {
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
    EXPECT_EQ(run(), 7);
    EXPECT_EQ(heard, "xy");
    reply.reset();
    ::close(pair[0]), ::close(pair[1]);

    int stops = 0;
    const Token watch = watchStopSignals([&] { ++stops; });
    const Token later = loop.after(100, [&] { loop.quit(stops); });
    ::raise(SIGHUP);
    ::raise(SIGTERM);
    EXPECT_EQ(run(), 1);
}

INSTANTIATE_TEST_SUITE_P(Linux, EventLoops, testing::Values("Qt", "Epoll"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace tidewell
