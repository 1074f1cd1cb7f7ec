// The program on Windows: parts assembled over the message loop, with the window and tray
// icon unless --headless (or no desktop can be had, as under Wine without a display). The
// report goes to the console the program was started from, or the standard output it was given.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/assembly.h"
#include "app/clock_history.h"
#include "app/front.h"
#include "app/options.h"
#include "app/single_instance.h"
#include "app/program.h"
#include "app/status_command.h"
#include "app/win32/event_loop_win32.h"
#include "app/win32/realtime_win32.h"
#include "app/win32/timer_period_win32.h"
#include "app/win32/window_win32.h"
#include "platform/paths.h"
#include "platform/system_clock_win32.h"
#include "platform/text_win32.h"
#include "app/win32/time_service_win32.h"
#include "platform/windows_error_win32.h"
#include "settings/autorun_registry_win32.h"
#include "settings/settings_path.h"

using namespace tidewell;

namespace {

// A program of the GUI subsystem gets standard handles only when its starter redirected them
// (a pipe under a test or a service wrapper); otherwise it writes to the console of the
// command prompt it was started from, if any.
void attachStandardOutput() {
    bool attached = false;
    for (auto [id, stream] : {std::pair{STD_OUTPUT_HANDLE, stdout}, {STD_ERROR_HANDLE, stderr}}) {
        const HANDLE h = ::GetStdHandle(id);
        if (h && h != INVALID_HANDLE_VALUE && ::GetFileType(h) != FILE_TYPE_UNKNOWN) continue;
        if (!attached && !(attached = ::AttachConsole(ATTACH_PARENT_PROCESS))) return;
        if (std::freopen("CONOUT$", "w", stream)) std::setvbuf(stream, nullptr, _IONBF, 0);
    }
}

// The command line as UTF-8, whatever the ANSI code page cannot spell.
std::vector<std::string> arguments() {
    int count = 0;
    wchar_t** args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> out;
    for (int i = 1; i < count; ++i) out.push_back(win32::utf8(args[i]));
    ::LocalFree(args);
    return out;
}

struct WindowsParts {
    using Loop = WindowsEventLoop;
    using DesktopShell = Win32Shell;
    using AutoRun = RegistryAutoRun;
    using Clock = Win32SystemClock;
    using TimeServices = Win32TimeServiceProbe;
    static AutoRun autoRun(const Options&) { return AutoRun(); }
    static TimeServices timeServices(Loop&) { return TimeServices(); }
};

// Without the window, a window never shown hears what Windows asks of windows: WM_CLOSE from
// taskkill, and the end of the session. Where no desktop can be had, a message-only window
// still hears WM_CLOSE posted to it.
class StopWindow {
public:
    explicit StopWindow(std::function<void()> onStop) : onStop_(std::move(onStop)) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = procedure;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"TidewellHeadless";
        ::RegisterClassW(&wc);
        for (HWND parent : {HWND(nullptr), HWND_MESSAGE}) {
            hwnd_ = ::CreateWindowExW(0, wc.lpszClassName, L"Tidewell", WS_OVERLAPPED, 0, 0, 0, 0,
                                      parent, nullptr, wc.hInstance, this);
            if (hwnd_) break;
        }
        // Elevated, it still hears the installer's WM_CLOSE.
        if (hwnd_) ::ChangeWindowMessageFilterEx(hwnd_, WM_CLOSE, MSGFLT_ALLOW, nullptr);
    }
    ~StopWindow() {
        if (hwnd_) ::DestroyWindow(hwnd_);
    }

private:
    static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE)
            ::SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                                LONG_PTR(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        auto* self = reinterpret_cast<StopWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        switch (message) {
        case WM_CLOSE:
            if (self) self->onStop_();
            return 0;
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_ENDSESSION:
            // The process may end as soon as this returns: stop now.
            if (wParam && self) self->onStop_();
            return 0;
        default:
            return ::DefWindowProcW(hwnd, message, wParam, lParam);
        }
    }

    std::function<void()> onStop_;
    HWND hwnd_ = nullptr;
};

int run(const Options& options) {
    const bool windowed = !options.headless && Win32Shell::desktopAvailable();
    WindowsEventLoop loop;
    Assembly<WindowsParts> parts(options, windowed, loop, _fileno(stdout));
    const std::string settingsFile =
        settingsFilePath(paths::folderOf(paths::executablePath()), options.settingsFile);
    const InstanceLock instance(settingsFile);
    if (const auto status = endSecondCopy(instance, windowed, settingsFile)) return *status;
    Program& program = parts.build(settingsFile);
    OutputTimerPeriod timerPeriod;
    program.events().add(timerPeriod);
    const auto window = windowed ? parts.desktop.openWindow(program.window()) : nullptr;
    if (window) loop.messageFilter = [&](MSG& message) { return window->dialogMessage(message); };
    if (window) window->showOnMessage(instance.showMessage());
    bool stopping = false;
    const auto stop = [&] {
        if (!std::exchange(stopping, true)) program.stop();
    };
    std::optional<StopWindow> stopWindow;
    if (!windowed) stopWindow.emplace(stop);
    const auto consoleStop = loop.watchConsoleStop(stop);
    program.start();
    // After start-up's lines, which scripts read first.
    const std::string priority = raiseLoopPriority();
    parts.report.line(priority);
    parts.serveStatus(priority);
    return loop.run();
}

}  // namespace

int main() {
    attachStandardOutput();
    std::string error;
    const auto options = parseOptions(arguments(), error);
    if (const auto status = answerWithoutRunning(options, error)) return *status;
    if (options->demo)
        return std::fputs("tidewell: --demo is not available on Windows: its simulated receiver "
                          "needs a pseudo-terminal\n",
                          stderr),
               2;
    try {
        return run(*options);
    } catch (const std::exception& e) {
        return std::fprintf(stderr, "tidewell: %s\n", e.what()), 1;
    }
}
