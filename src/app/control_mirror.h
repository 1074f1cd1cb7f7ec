#pragma once
// What a window mirrors of the model: a control that changed (its text, value or visibility)
// is shown again. The Qt and Win32 windows implement it; the model holds no widget.
#include "app/controls.h"

namespace tidewell {

class ControlMirror {
public:
    virtual ~ControlMirror() = default;
    virtual void controlChanged(const Control& control) = 0;
};

}  // namespace tidewell
