// The native window against the window model, in this process at 96 DPI, and the timer period
// the program holds; then the installed program from the outside, as a user and the installer
// see it. Needs a display (Xvfb).
#include "app/win32/event_loop_win32.h"
#include "app/win32/timer_period_win32.h"
#include "app/win32/window_win32.h"
#include "window_fixture.h"
#include "window_reading.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>

#include "platform/text_win32.h"
#include "temp_folder.h"

namespace tidewell {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

std::vector<std::string> trayCalls;  // "0 0x200 Set PC Time from GPS": command, callback, tip
BOOL WINAPI recordNotifyIcon(DWORD command, PNOTIFYICONDATAA data) {
    trayCalls.push_back(std::to_string(command) + " 0x200 " + data->szTip);
    return data->cbSize == sizeof *data && data->hIcon && data->uCallbackMessage == 0x200;
}

// The window as the shared check reads it, with its children in z-order as their controls.
struct Win32Reading : testing::WindowReading {
    const Win32WindowView& view;
    const std::vector<Control*> controls;

    Win32Reading(const Win32WindowView& v, OrvaneSetTime& model)
        : view(v), controls(model.controls()) {}
    testing::ShownControl read(const Control& c) override {
        const HWND h = view.handleOf(c);
        RECT r;
        ::GetWindowRect(h, &r);
        ::MapWindowPoints(nullptr, view.hwnd(), reinterpret_cast<POINT*>(&r), 2);
        wchar_t text[256] = L"";
        ::SendMessageW(h, WM_GETTEXT, 256, LPARAM(text));
        LOGFONTW font{};
        ::GetObjectW(HFONT(::SendMessageW(h, WM_GETFONT, 0, 0)), sizeof font, &font);
        const bool shown = ::GetWindowLongW(h, GWL_STYLE) & WS_VISIBLE;
        const std::pair own(int(-font.lfHeight), font.lfWeight >= FW_BOLD);
        return {{r.left, r.top, r.right - r.left, r.bottom - r.top}, win32::utf8(text), own, shown};
    }
    // In z-order, each tab stop and the options after one in its group, which arrows reach.
    std::vector<const Control*> tabChain() override {
        std::vector<const Control*> chain;
        bool group = false;
        for (HWND h = ::GetWindow(view.hwnd(), GW_CHILD); h; h = ::GetWindow(h, GW_HWNDNEXT)) {
            const LONG style = ::GetWindowLongW(h, GWL_STYLE);
            if ((group = (style & WS_TABSTOP) || (group && !(style & WS_GROUP))))
                chain.push_back(*std::ranges::find(
                    controls, h, [&](const Control* c) { return view.handleOf(*c); }));
        }
        return chain;
    }
    std::pair<int, int> clientSize() override {
        RECT client;
        ::GetClientRect(view.hwnd(), &client);
        return {client.right, client.bottom};
    }
};

// Whether a control of this process shows its caption whole in the font it has, laid out as
// the control draws it at 96 DPI (a check box's text after its box and half a digit's gap),
// the last line's descent aside.
bool captionWhole(HWND h, const Control& c) {
    RECT room;
    ::GetClientRect(h, &room);
    const HDC dc = ::GetDC(h);
    ::SelectObject(dc, HFONT(::SendMessageW(h, WM_GETFONT, 0, 0)));
    INT digit = 0;
    ::GetCharWidth32W(dc, L'0', L'0', &digit);
    TEXTMETRICW font{};
    ::GetTextMetricsW(dc, &font);
    if (dynamic_cast<const CheckBox*>(&c) || dynamic_cast<const OptionButton*>(&c))
        room.left += 13 + digit / 2;
    if (dynamic_cast<const CommandButton*>(&c)) ::InflateRect(&room, -3, -3);
    const std::wstring text = win32::wide(c.shownText());
    RECT need{0, 0, room.right - room.left, 0};
    ::DrawTextW(dc, text.c_str(), -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    ::ReleaseDC(h, dc);
    return need.right <= room.right - room.left &&
           need.bottom - font.tmDescent <= room.bottom - room.top;
}

struct Win32WindowTest : WindowTest {
    fakes::FakeEventLoop loop;
    Win32Shell desktop{loop, recordNotifyIcon};
    std::unique_ptr<Win32WindowView> view;
    HWND hwnd = nullptr;

    void SetUp() override {
        trayCalls.clear();
        window = std::make_unique<OrvaneSetTime>(
            OrvaneSetTime::Platform{desktop, profile, autoRun, clock, "C:\\tw\\tidewell.exe"},
            components(), events, file);
        view = desktop.openWindow(*window);
        window->Form_Load();
        hwnd = view->hwnd();
    }
    void notify(const Control& c, WORD code) {
        HWND h = view->handleOf(c);
        ::SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(h), code), LPARAM(h));
    }
};

void closeTheBox() {
    ::PostMessageW(::FindWindowW(nullptr, L"Box under test"), WM_COMMAND, IDOK, 0);
}

// A message box runs a message loop of its own, where frames and readings must go on.
TEST(Win32MessageBox, TimersAndWatchesRunWhileABoxIsOpen) {
    WindowsEventLoop loop;
    Win32Shell shell(loop, recordNotifyIcon);
    const HANDLE ready = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
    int ticks = 0, reads = 0;
    const auto watch =
        loop.watchReadable(NativeHandle(ready), [&] { ::ResetEvent(ready), ++reads; });
    const auto tick = loop.everyPeriod(50, [&] {
        if (++ticks == 3) closeTheBox();
        ::SetEvent(ready);
    });
    // Were the loop stalled, nothing would close the box: a timer of the box's own loop does,
    // late.
    const UINT_PTR rescue =
        ::SetTimer(nullptr, 0, 5000, [](HWND, UINT, UINT_PTR, DWORD) { closeTheBox(); });
    shell.messageBox("Ticks go on", "Box under test", MsgBoxIcon::Exclamation, MsgBoxButtons::Ok);
    ::KillTimer(nullptr, rescue), ::CloseHandle(ready);
    EXPECT_EQ(ticks, 3);
    EXPECT_GE(reads, 2);  // at the start, and after the first tick
}

TEST_F(Win32WindowTest, EveryCaptionShowsWholeInTheFaceItGot) {
    const auto installed = [](const wchar_t* face) {
        const HDC dc = ::GetDC(nullptr);
        const HFONT font = ::CreateFontW(-11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, face);
        const HGDIOBJ before = ::SelectObject(dc, font);
        wchar_t got[LF_FACESIZE] = L"";
        ::GetTextFaceW(dc, LF_FACESIZE, got);
        ::SelectObject(dc, before), ::DeleteObject(font), ::ReleaseDC(nullptr, dc);
        return ::lstrcmpiW(got, face) == 0;
    };
    if (!installed(L"Tahoma") && !installed(L"MS Sans Serif") && !installed(L"Segoe UI"))
        GTEST_SKIP() << "no Windows face here to fit captions with (under Wine, Debian's "
                        "fonts-wine has Tahoma and MS Sans Serif)";
    for (Control* c : window->controls()) {
        const HWND h = view->handleOf(*c);
        if (!dynamic_cast<TextBox*>(c) && !dynamic_cast<ComboBox*>(c) &&
            (::GetWindowLongW(h, GWL_STYLE) & WS_VISIBLE)) {
            EXPECT_TRUE(captionWhole(h, *c)) << c->name();
        }
    }
}

TEST_F(Win32WindowTest, ControlsSitAsLaidOutTrayShowsButtonsActAndOnlyCloseAndExitSavesThePort) {
    // The shared check, and what is Windows' own: no taskbar button, no resizing, and hidden
    // until the tray icon's button goes up (512 is a mere move).
    Win32Reading reading(*view, *window);
    testing::expectMirrors(*window, reading);
    EXPECT_EQ(::GetWindowLongW(hwnd, GWL_STYLE) & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME),
              0);
    EXPECT_EQ(::GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
    ::SendMessageW(hwnd, WM_MOUSEMOVE, 0, 512);
    EXPECT_FALSE(::IsWindowVisible(hwnd));
    ::SendMessageW(hwnd, WM_MOUSEMOVE, 0, 513);
    EXPECT_TRUE(::IsWindowVisible(hwnd) && window->Timer1.Enabled());
    ::SendMessageW(hwnd, ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_THAT(trayCalls,
                ElementsAre("0 0x200 Set PC Time from GPS", "0 0x200 Set PC Time from GPS"));

    profile.writes.clear();
    notify(window->Check1, BN_CLICKED);
    ::SendMessageW(view->handleOf(window->Combo1), CB_SETCURSEL, 2, 0);
    notify(window->Combo1, CBN_SELCHANGE);
    for (MSG m; ::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE);) ::DispatchMessageW(&m);
    EXPECT_THAT(profile.writes, ElementsAre("UDP/SENDUDP= 1", "GPS/COMPORT=COM2"));

    profile.writes.clear();
    ::SendMessageW(hwnd, WM_ENDSESSION, TRUE, 0);
    EXPECT_TRUE(profile.writes.empty());
    EXPECT_EQ(loop.quitStatus, 0);
    notify(window->Command1, BN_CLICKED);
    EXPECT_THAT(profile.writes, ElementsAre("GPS/COMPORT=COM2"));
    EXPECT_EQ(trayCalls.back(), "2 0x200 Set PC Time from GPS");  // NIM_DELETE
}

// ---- The timer period ------------------------------------------------------------------------

// The 1 ms timer period is held exactly while an output is on, and every request is undone.
int held = 0;
template <int step> UINT WINAPI period(UINT ms) {
    return ms == 1 ? (held += step, TIMERR_NOERROR) : TIMERR_NOCANDO;
}

TEST_F(WindowTest, TimerPeriodIsHeldWhileEitherOutputIsOn) {
    std::optional<OutputTimerPeriod> requests{std::in_place, period<1>, period<-1>};
    events.add(*requests);
    stored({"UDP/SendUDP=1"});
    OrvaneSetTime& w = load();
    EXPECT_EQ(held, 1) << "UDP on at start";
    // Serial on too, serial alone, both off, serial on.
    for (auto [box, expected] :
         {std::pair{&w.Check2, 1}, {&w.Check1, 1}, {&w.Check2, 0}, {&w.Check2, 1}}) {
        box->click();
        EXPECT_EQ(held, expected) << box->name();
    }
    requests.reset();
    EXPECT_EQ(held, 0) << "released on exit";
}

// ---- The installed program ------------------------------------------------------------------

// Starts a program; with `wait`, returns its exit status (-1: not started or still running).
std::pair<HANDLE, DWORD> run(std::wstring commandLine, bool wait = true) {
    STARTUPINFOW info{};
    info.cb = sizeof info;
    PROCESS_INFORMATION process{};
    DWORD status = DWORD(-1);
    ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, 0, 0, 0, 0, &info, &process);
    if (wait && !::WaitForSingleObject(process.hProcess, 60'000))
        ::GetExitCodeProcess(process.hProcess, &status);
    return {process.hProcess, status};
}

bool hasRunValue() {
    return ::RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                          L"Tidewell", RRF_RT_REG_SZ, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// Wine's schtasks keeps no trigger, user or command of a task: while this lives, the prefix's
// schtasks.exe is the stand-in, which writes down what it was asked.
struct SchtasksStandIn {
    static constexpr const wchar_t* kOverrides = L"Software\\Wine\\DllOverrides";
    fs::path real = fs::path(std::getenv("WINDIR")) / "system32" / "schtasks.exe";
    fs::path kept = fs::temp_directory_path() / "schtasks.exe.wine";
    fs::path log = fs::temp_directory_path() / "schtasks calls.txt";

    SchtasksStandIn() {
        const fs::path standIn = fs::absolute(TIDEWELL_SCHTASKS_STAND_IN);
        // Kept from a run that ended before putting it back, too.
        EXPECT_TRUE(fs::exists(kept) || ::CopyFileW(real.c_str(), kept.c_str(), TRUE));
        EXPECT_TRUE(::CopyFileW(standIn.c_str(), real.c_str(), FALSE));
        fs::remove(log);
        ::SetEnvironmentVariableW(L"TIDEWELL_SCHTASKS_LOG", log.c_str());
        ::RegSetKeyValueW(HKEY_CURRENT_USER, kOverrides, L"schtasks.exe", REG_SZ, L"native", 14);
    }
    ~SchtasksStandIn() {
        ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kOverrides, L"schtasks.exe");
        ::MoveFileExW(kept.c_str(), real.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
};

TEST(Win32Installer, InstalledProgramShowsOnASecondStartReinstallsToStartElevatedAndUninstalls) {
    const fs::path setup = fs::absolute(TIDEWELL_INSTALLER).make_preferred();
    const fs::path dir = fs::temp_directory_path() / "Tidewell test";
    if (!fs::exists(setup)) GTEST_SKIP() << "no installer: makensis was not found";
    fs::remove_all(dir);
    ASSERT_EQ(run(setup.wstring() + L" /S /D=" + dir.wstring()).second, 0u);
    // UDP stays on loopback; auto-run on, so the program writes the Run value.
    std::ofstream(dir / "Tidewell.ini") << "[UDP]\nUDPaddress=127.0.0.1\n[GPS]\nAutoStart= 1\n";

    const std::wstring start = L"\"" + (dir / "tidewell.exe").wstring() + L"\" --no-set-clock";
    const HANDLE program = run(start, false).first;
    HWND hwnd = nullptr;
    for (int i = 0; i < 200 && !hwnd; ++i, ::Sleep(100))
        hwnd = ::FindWindowW(Win32WindowView::kClassName, L"Tidewell");
    ASSERT_TRUE(hwnd) << "the program's window did not appear";
    ::WaitForInputIdle(program, 10'000);  // start-up over, the loop waiting
    EXPECT_FALSE(::IsWindowVisible(hwnd));
    // A second copy shows the first one's window and ends.
    EXPECT_EQ(run(start).second, 0u);
    for (int i = 0; i < 100 && !::IsWindowVisible(hwnd); ++i) ::Sleep(100);
    EXPECT_TRUE(::IsWindowVisible(hwnd));
    HWND exit = ::FindWindowExW(hwnd, nullptr, L"Button", L"Close and Exit");
    ::PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(exit), BN_CLICKED), LPARAM(exit));
    EXPECT_EQ(::WaitForSingleObject(program, 10'000), WAIT_OBJECT_0);
    const auto setting = [ini = (dir / "Tidewell.ini").string()](const char* key) {
        char value[16];
        return std::string(value,
                           ::GetPrivateProfileStringA("GPS", key, "", value, 16, ini.c_str()));
    };
    EXPECT_EQ(setting("COMPORT"), "None");
    EXPECT_TRUE(hasRunValue());

    // Again, with the task that starts it elevated at log-on in place of the Run value.
    const SchtasksStandIn schtasks;
    ASSERT_EQ(run(setup.wstring() + L" /S /ELEVATEDTASK /D=" + dir.wstring()).second, 0u);
    const std::string user =
        std::string(std::getenv("USERDOMAIN")) + "\\" + std::getenv("USERNAME");
    const std::string made = testing::readBytes(schtasks.log);
    for (const std::string& part : std::vector<std::string>{
             "/Create /TN Tidewell /XML ", "\\task.xml /F\n", "<LogonTrigger><UserId>" + user,
             "<Principal id=\"User\"><UserId>" + user +
                 "</UserId><LogonType>InteractiveToken</LogonType><RunLevel>HighestAvailable<",
             "<DisallowStartIfOnBatteries>false<", "<StopIfGoingOnBatteries>false<",
             "<ExecutionTimeLimit>PT0S<",
             "<Command>" + (dir / "tidewell.exe").string() + "</Command>"})
        EXPECT_THAT(made, HasSubstr(part));
    EXPECT_FALSE(hasRunValue());
    EXPECT_EQ(setting("AutoStart"), "0");

    EXPECT_EQ(run(L"\"" + (dir / "uninstall.exe").wstring() + L"\" /S").second, 0u);
    for (int i = 0; i < 100 && fs::exists(dir / "uninstall.exe"); ++i) ::Sleep(100);
    EXPECT_FALSE(fs::exists(dir / "tidewell.exe") || fs::exists(dir / "uninstall.exe"));
    EXPECT_TRUE(fs::exists(dir / "Tidewell.ini"));
    EXPECT_FALSE(hasRunValue());
    EXPECT_EQ(testing::readBytes(schtasks.log), made + "/Delete /TN Tidewell /F\n");
}

}  // namespace
}  // namespace tidewell
