#include "app/win32/timer_period_win32.h"

#include <timeapi.h>


namespace tidewell {

OutputTimerPeriod::OutputTimerPeriod(PeriodCall begin, PeriodCall end)
    : begin_(begin ? begin : ::timeBeginPeriod), end_(end ? end : ::timeEndPeriod) {}

OutputTimerPeriod::~OutputTimerPeriod() { request(false); }

// Each timeBeginPeriod is matched by one timeEndPeriod.
void OutputTimerPeriod::request(bool fine) {
    if (fine == fine_) return;
    if ((fine ? begin_(1) : end_(1)) == TIMERR_NOERROR) fine_ = fine;
}

}  // namespace tidewell
