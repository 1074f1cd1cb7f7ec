#pragma once
// Windows' timer period at 1 ms while a sync output is on, for frames on the second; back to
// the default when both are off, since a finer period costs the whole machine power.
#include <windows.h>

#include "app/window_view.h"

namespace tidewell {

class OutputTimerPeriod : public WindowView {
public:
    using PeriodCall = UINT(WINAPI*)(UINT);
    // timeBeginPeriod and timeEndPeriod unless a test gives others.
    explicit OutputTimerPeriod(PeriodCall begin = nullptr, PeriodCall end = nullptr);
    ~OutputTimerPeriod() override;
    OutputTimerPeriod(const OutputTimerPeriod&) = delete;
    OutputTimerPeriod& operator=(const OutputTimerPeriod&) = delete;

    void controlChanged(const Control& control) override;
    void loaded(const OrvaneSetTime& window, const std::string&, const std::string&) override;

private:
    void request(bool fine);

    PeriodCall begin_, end_;
    bool udpOn_ = false, serialOn_ = false, fine_ = false;
};

}  // namespace tidewell
