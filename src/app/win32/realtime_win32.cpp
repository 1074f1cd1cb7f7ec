#include "app/win32/realtime_win32.h"

#include <windows.h>

#include "platform/windows_error_win32.h"

namespace tidewell {

std::string raiseLoopPriority() {
    return ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL)
               ? "priority: time-critical thread"
               : "priority: normal (" + windowsErrorText(::GetLastError()) + ")";
}

}  // namespace tidewell
