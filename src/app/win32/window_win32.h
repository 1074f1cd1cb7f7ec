#pragma once
// The window on Windows: native controls that mirror the window model's controls, placed from
// their twips at the monitor's DPI, and the desktop shell around them (tray icon, taskbar
// button, message boxes, quitting). The controls hold no state of their own: a user's action
// goes to the model, and what the model changes comes back through controlChanged.
#include "app/orvane_set_time.h"
#include "app/control_mirror.h"
#include "platform/event_loop.h"
#include "platform/shell.h"

#include <windows.h>

#include <shellapi.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace tidewell {

// The icon group the window, its title bar and the tray show (tidewell.rc).
inline constexpr int kWindowIconResource = 1;

// The tray icon's callback reaches the window as WM_MOUSEMOVE with the mouse event's code in
// its low word: the left button, the right button or a double click restore the window; any
// other event (a move) does nothing.
std::optional<TrayButton> trayButtonOf(unsigned mouseMessage);

class Win32WindowView : public ControlMirror {
public:
    static constexpr const wchar_t* kClassName = L"TidewellWindow";

    // Creates the window hidden, owned by `owner` (a hidden window, so that clearing
    // WS_EX_APPWINDOW takes the taskbar button away).
    Win32WindowView(OrvaneSetTime& model, HWND owner);
    ~Win32WindowView() override;
    Win32WindowView(const Win32WindowView&) = delete;
    Win32WindowView& operator=(const Win32WindowView&) = delete;

    void controlChanged(const Control& control) override;

    HWND hwnd() const { return hwnd_; }
    HWND handleOf(const Control& control) const;
    UINT dpi() const { return dpi_; }
    // Twips to pixels at the window's DPI.
    RECT pixels(const Geometry& g) const;
    // The registered message `name` shows the window, as a click on the tray icon does: a
    // later start of the program asks so.
    void showOnMessage(const std::wstring& name);
    // Tab, arrows, Enter and mnemonics among the controls, as in a dialog.
    bool dialogMessage(MSG& message);

    // The close box and the end of the session: the model unloads, nothing is saved.
    std::function<void()> onClose;
    // Explorer started again (or the DPI changed): the tray icon must be added again.
    std::function<void()> onTaskbarCreated;

private:
    static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void build();
    void layout();
    void command(int id, int code);
    void act(Control& control, const std::function<void()>& action);
    LOGFONTW logFontOf(const std::optional<Font>& font) const;
    HFONT fontFor(const LOGFONTW& font);
    // The control's own font; where that would cut its caption, the first face of a short list
    // that shows it whole at the same size.
    void fitFont(const Control& control, HWND h, bool redraw);

    OrvaneSetTime& model_;
    HWND hwnd_ = nullptr;
    UINT dpi_ = 96;
    std::vector<std::pair<Control*, HWND>> controls_;  // in creation (tab) order
    std::map<std::wstring, HFONT> fonts_;              // by face, height and weight
    bool mirroring_ = false;  // notifications from our own writes are not the user's
    UINT taskbarCreated_ = 0;
    UINT showMessage_ = 0;
};

class Win32Shell : public Shell {
public:
    using NotifyIconFunction = BOOL(WINAPI*)(DWORD, PNOTIFYICONDATAA);

    // `notifyIcon` stands in for Shell_NotifyIconA in tests.
    explicit Win32Shell(EventLoop& loop, NotifyIconFunction notifyIcon = ::Shell_NotifyIconA);
    ~Win32Shell() override;

    // Whether windows can be made here (not under Wine without a display, for one).
    static bool desktopAvailable();
    // Creates the window for `model` and takes the shell's part of it.
    std::unique_ptr<Win32WindowView> openWindow(OrvaneSetTime& model);

    void showWindow(bool shown) override;
    void showInTaskbar(bool shown) override;
    void addTrayIcon(const TrayIconRecord& icon) override;
    void modifyTrayIcon(const TrayIconRecord& icon) override;
    void removeTrayIcon(const TrayIconRecord& icon) override;
    MsgBoxAnswer messageBox(std::string_view text, std::string_view title, MsgBoxIcon icon,
                            MsgBoxButtons buttons) override;
    void quit() override;

private:
    void notify(DWORD command, const TrayIconRecord& icon);

    EventLoop& loop_;
    NotifyIconFunction notifyIcon_;
    HWND owner_ = nullptr;
    OrvaneSetTime* model_ = nullptr;
    Win32WindowView* window_ = nullptr;
    TrayIconRecord icon_;
    bool trayWanted_ = false;  // added and not removed since
    bool shownOnce_ = false;
    bool unloaded_ = false;
};

}  // namespace tidewell
