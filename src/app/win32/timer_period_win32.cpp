#include "app/win32/timer_period_win32.h"

#include <timeapi.h>

#include "app/orvane_set_time.h"

namespace tidewell {

OutputTimerPeriod::OutputTimerPeriod(PeriodCall begin, PeriodCall end)
    : begin_(begin ? begin : ::timeBeginPeriod), end_(end ? end : ::timeEndPeriod) {}

OutputTimerPeriod::~OutputTimerPeriod() { request(false); }

void OutputTimerPeriod::controlChanged(const Control& control) {
    const auto on = [&] { return static_cast<const CheckBox&>(control).Value() == 1; };
    if (control.name() == "Check1") udpOn_ = on();
    else if (control.name() == "Check2") serialOn_ = on();
    else return;
    request(udpOn_ || serialOn_);
}

void OutputTimerPeriod::loaded(const OrvaneSetTime& window, const std::string&, const std::string&) {
    udpOn_ = window.Check1.Value() == 1;
    serialOn_ = window.Check2.Value() == 1;
    request(udpOn_ || serialOn_);
}

// Each timeBeginPeriod is matched by one timeEndPeriod.
void OutputTimerPeriod::request(bool fine) {
    if (fine == fine_) return;
    if ((fine ? begin_(1) : end_(1)) == TIMERR_NOERROR) fine_ = fine;
}

}  // namespace tidewell
