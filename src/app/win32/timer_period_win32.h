#pragma once
// Windows' timer period at 1 ms while a sync output is on, for frames on the second; back to
// the default when both are off, since a finer period costs the whole machine power.
#include <windows.h>

#include "app/program_events.h"

namespace tidewell {

class OutputTimerPeriod : public ProgramEvents {
public:
    using PeriodCall = UINT(WINAPI*)(UINT);
    // timeBeginPeriod and timeEndPeriod unless a test gives others.
    explicit OutputTimerPeriod(PeriodCall begin = nullptr, PeriodCall end = nullptr);
    ~OutputTimerPeriod() override;
    OutputTimerPeriod(const OutputTimerPeriod&) = delete;
    OutputTimerPeriod& operator=(const OutputTimerPeriod&) = delete;

    void outputsSwitched(bool serialOn, bool udpOn) override { request(serialOn || udpOn); }

private:
    void request(bool fine);

    PeriodCall begin_, end_;
    bool fine_ = false;
};

}  // namespace tidewell
