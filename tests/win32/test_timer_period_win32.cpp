// The 1 ms timer period is held exactly while an output is on, and every request is undone.
#include <gtest/gtest.h>

#include "app/win32/timer_period_win32.h"
#include "window_fixture.h"

namespace tidewell {
namespace {

int held = 0;
UINT WINAPI begin(UINT ms) { return ms == 1 ? (++held, TIMERR_NOERROR) : TIMERR_NOCANDO; }
UINT WINAPI end(UINT ms) { return ms == 1 ? (--held, TIMERR_NOERROR) : TIMERR_NOCANDO; }

TEST_F(WindowTest, TimerPeriodIsHeldWhileEitherOutputIsOn) {
    held = 0;
    std::optional<OutputTimerPeriod> period{std::in_place, begin, end};
    events.add(*period);
    stored({"UDP/SendUDP=1"});
    OrvaneSetTime& w = load();
    EXPECT_EQ(held, 1) << "UDP on at start";
    w.Check2.click();
    EXPECT_EQ(held, 1) << "serial on too: still one request";
    w.Check1.click();
    EXPECT_EQ(held, 1) << "serial alone";
    w.Check2.click();
    EXPECT_EQ(held, 0) << "both off";
    w.Check2.click();
    period.reset();
    EXPECT_EQ(held, 0) << "released on exit";
}

}  // namespace
}  // namespace tidewell
