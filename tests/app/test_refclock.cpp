// Fresh GPS times handed to chrony instead of setting the clock.
#include <random>

#include "app/refclock_feed.h"
#include "window_fixture.h"

namespace tidewell {
namespace {

using namespace std::chrono;

// A PC clock `error` off the truth, a receiver that sends each second `delay` after it begins,
// and a sample taken some time after the first byte came: the sample names the PC clock's
// reading when the second began and how far the truth was from it, to the microsecond.
TEST(RefclockFeed, ASampleGivesThePcClocksErrorWhenTheDelayIsKnown) {
    std::mt19937 random(2026);
    const auto uniform = [&](long from, long to) {
        return std::uniform_int_distribution<long>(from, to)(random);
    };
    fakes::FakeRefclockSocket socket;
    ProgramEvents nobody;
    steady_clock::time_point steadyNow;
    system_clock::time_point pcNow;
    RefclockFeed feed(
        &socket, nobody, [&] { return steadyNow; }, [&] { return pcNow; });
    feed.use("/run/chrony.tidewell.sock");
    for (int i = 0; i < 2000; ++i) {
        const microseconds error(uniform(-5'000'000, 5'000'000)), since(uniform(0, 900'000));
        const milliseconds delay(uniform(0, 999));
        const int minute = i / 60 % 60, second = i % 60;
        const auto named = sys_days(2026y / 12 / 6) + 9h + minutes(minute) + seconds(second);
        const steady_clock::time_point arrived(hours(1) + seconds(uniform(0, 1'000'000)));
        steadyNow = arrived + since;
        pcNow = named + delay + since + error;
        feed.offer(*dateValueOf(2026, 12, 6, 9, minute, second), arrived, delay);
        ASSERT_EQ(socket.sent.size(), std::size_t(i) + 1);
        EXPECT_NEAR(socket.sent.back().offset, -duration<double>(error).count(), 1e-6);
        EXPECT_EQ(socket.sent.back().pcTime, named + error);
    }
}

NmeaSentence rmcAt(int s, bool fresh = true) {
    return {"RMC", *dateValueOf(2026, 12, 5, 9, 6 + s / 60, s % 60), steady_clock::now(), fresh};
}

// Not even at second 1 of a minute with PRECISE and the GPS date on; a sentence from a backlog
// goes nowhere; the frames go on.
TEST_F(WindowTest, WithARefclockFreshTimesGoToChronyAndNothingSetsTheClock) {
    stored("GPS", "REFCLOCK", "SOCK:/run/chrony.tidewell.sock");
    stored("GPS", "PRECISE", "1");
    stored("GPS", "GPSdate", "1");
    stored("UDP", "SendUDP", " 1");
    OrvaneSetTime& w = start();
    int fresh = 0;
    for (int s = 0; s < 180; ++s) {
        w.NMEA1_SentenceReceived(rmcAt(s, s % 7 != 3));
        fresh += s % 7 != 3;
    }
    EXPECT_TRUE(clock.sets.empty());
    EXPECT_EQ(refclock.sent.size(), std::size_t(fresh));
    EXPECT_EQ(w.txtGPStime.Text(), "05-12-2026   9:09:00");
    w.SendUDP_Timer();
    EXPECT_EQ(udp.sent.size(), 1u);
}

// Windows has no chrony: the key is told and the clock is set as it always was.
TEST_F(WindowTest, WithoutChronyARefclockSettingIsToldAndTheClockIsSetAsBefore) {
    stored("GPS", "REFCLOCK", "SOCK:/run/chrony.tidewell.sock");
    window = std::make_unique<OrvaneSetTime>(
        platform(), OrvaneSetTime::Components{nmea, serial, udp}, events, file);
    window->Form_Load();
    EXPECT_EQ(view.lines, Strings{"REFCLOCK is for chrony, which this system does not have; the "
                                  "clock is set as before"});
    window->NMEA1_SentenceReceived(rmcAt(60));
    EXPECT_EQ(clock.sets, Strings{"time 09:07:01"});
    EXPECT_FALSE(window->refclock().on());
}

}  // namespace
}  // namespace tidewell
