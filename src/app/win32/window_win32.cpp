#include "app/win32/window_win32.h"

#include "app/win32/event_loop_win32.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <utility>

#include "platform/paths.h"
#include "platform/text_win32.h"

namespace tidewell {

std::optional<TrayButton> trayButtonOf(unsigned mouseMessage) {
    switch (mouseMessage) {
    case WM_LBUTTONDOWN:
        return TrayButton::Left;
    case WM_RBUTTONDOWN:
        return TrayButton::Right;
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK:
        return TrayButton::Double;
    default:
        return std::nullopt;
    }
}

namespace {

// A pick from a list, handled once the list has finished its own work: wParam the control's
// id, lParam the item.
constexpr UINT kPicked = WM_APP + 1;
constexpr int kFirstId = 100;
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;

HINSTANCE instance() {
    return ::GetModuleHandleW(nullptr);
}

HICON windowIcon(int metric, UINT dpi) {
    const int size = ::GetSystemMetricsForDpi(metric, dpi);
    if (auto icon = static_cast<HICON>(::LoadImageW(
            instance(), MAKEINTRESOURCEW(kWindowIconResource), IMAGE_ICON, size, size, LR_SHARED)))
        return icon;
    return ::LoadIconW(nullptr, MAKEINTRESOURCEW(32512));  // IDI_APPLICATION
}

std::wstring textOf(HWND h) {
    std::wstring text(std::size_t(::GetWindowTextLengthW(h)) + 1, L'\0');
    text.resize(std::size_t(::GetWindowTextW(h, text.data(), int(text.size()))));
    return text;
}

struct Kind {
    const wchar_t* windowClass;
    DWORD style;
    DWORD exStyle = 0;
};

Kind kindOf(const Control& c) {
    if (dynamic_cast<const Label*>(&c)) return {L"STATIC", SS_LEFT | SS_NOPREFIX};
    if (dynamic_cast<const TextBox*>(&c))
        return {L"EDIT", ES_LEFT | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
    if (dynamic_cast<const ComboBox*>(&c))
        return {L"COMBOBOX", CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL};
    if (dynamic_cast<const CheckBox*>(&c)) return {L"BUTTON", BS_AUTOCHECKBOX | BS_MULTILINE};
    if (dynamic_cast<const OptionButton*>(&c))
        return {L"BUTTON", BS_AUTORADIOBUTTON | BS_MULTILINE};
    return {L"BUTTON", BS_PUSHBUTTON | BS_MULTILINE};
}

// Tried in turn where a control's own face cuts its caption: a face maps to another on some
// systems (under Wine without its own fonts, every face to one wide sans-serif).
constexpr const wchar_t* kFallbackFaces[] = {L"MS Sans Serif", L"Microsoft Sans Serif", L"Tahoma",
                                             L"Segoe UI"};

// Where a control draws its caption in the font selected into `dc`, and DrawText's flags for
// it; nullopt for controls that show data, not a caption.
std::optional<std::pair<RECT, UINT>> captionRoom(const Control& c, HWND h, HDC dc, UINT dpi) {
    RECT r;
    ::GetClientRect(h, &r);
    if (dynamic_cast<const Label*>(&c)) return {{r, DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS}};
    if (dynamic_cast<const CheckBox*>(&c) || dynamic_cast<const OptionButton*>(&c)) {
        // The box (12 pixels and an edge at 96 DPI), then half a digit's width of gap.
        INT digit = 0;
        ::GetCharWidth32W(dc, L'0', L'0', &digit);
        r.left += ::MulDiv(12, int(dpi), 96) + 1 + digit / 2;
        return {{r, DT_WORDBREAK}};
    }
    if (dynamic_cast<const CommandButton*>(&c)) {
        const int edge = ::MulDiv(3, int(dpi), 96);  // the raised edge and the focus rectangle
        ::InflateRect(&r, -edge, -edge);
        return {{r, DT_WORDBREAK}};
    }
    return std::nullopt;
}

// The last line's descent may fall outside: only a descender there would lose a row or two.
// The layout needs that for "Serial Time Sync Broadcast", whose two lines are a pixel taller
// than its box in every face.
bool fitsIn(HDC dc, const std::wstring& text, const RECT& room, UINT flags) {
    TEXTMETRICW font{};
    ::GetTextMetricsW(dc, &font);
    RECT need{0, 0, room.right - room.left, 0};
    ::DrawTextW(dc, text.c_str(), int(text.size()), &need, flags | DT_CALCRECT);
    return need.right <= room.right - room.left &&
           need.bottom - font.tmDescent <= room.bottom - room.top;
}

void registerClass(WNDPROC procedure) {
    static const bool registered = [&] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = procedure;
        wc.hInstance = instance();
        wc.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.hIcon = windowIcon(SM_CXICON, 96);
        wc.hIconSm = windowIcon(SM_CXSMICON, 96);
        wc.lpszClassName = Win32WindowView::kClassName;
        return ::RegisterClassExW(&wc) != 0;
    }();
    (void)registered;
}

}  // namespace

// ---- The window ----------------------------------------------------------------------------

Win32WindowView::Win32WindowView(OrvaneSetTime& model, HWND owner) : model_(model) {
    registerClass(procedure);
    ::CreateWindowExW(WS_EX_APPWINDOW, kClassName, win32::wide(OrvaneSetTime::Caption).c_str(),
                      kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, owner, nullptr, instance(),
                      this);
    if (!hwnd_) throw std::runtime_error("Creating the window failed");
    dpi_ = std::max(::GetDpiForWindow(hwnd_), 1u);
    taskbarCreated_ = ::RegisterWindowMessageW(L"TaskbarCreated");
    // Started elevated (to set the clock), the window would not hear a lower Explorer, nor
    // the installer asking it to close so that it can replace or remove the program.
    for (UINT message : {taskbarCreated_, UINT(WM_CLOSE)})
        ::ChangeWindowMessageFilterEx(hwnd_, message, MSGFLT_ALLOW, nullptr);
    build();
}

void Win32WindowView::showOnMessage(const std::wstring& name) {
    showMessage_ = ::RegisterWindowMessageW(name.c_str());
    // A later start of the program is never elevated when this one may be.
    ::ChangeWindowMessageFilterEx(hwnd_, showMessage_, MSGFLT_ALLOW, nullptr);
}

Win32WindowView::~Win32WindowView() {
    if (::IsWindow(hwnd_)) ::DestroyWindow(hwnd_);
    for (auto& [key, font] : fonts_) ::DeleteObject(font);
}

LRESULT CALLBACK Win32WindowView::procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<Win32WindowView*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Win32WindowView*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self || message == WM_NCCREATE) return ::DefWindowProcW(hwnd, message, wParam, lParam);
    return self->handle(message, wParam, lParam);
}

RECT Win32WindowView::pixels(const Geometry& g) const {
    const auto px = [&](int twips) { return ::MulDiv(twips, int(dpi_), 1440); };
    return {px(g.left), px(g.top), px(g.left) + px(g.width), px(g.top) + px(g.height)};
}

void Win32WindowView::build() {
    std::vector<Control*> order = model_.controls();
    std::stable_sort(order.begin(), order.end(),
                     [](Control* a, Control* b) { return a->tabIndex() < b->tabIndex(); });
    // Created in tab order: the z-order is the order Tab and IsDialogMessage follow.
    for (Control* c : order) {
        Kind kind = kindOf(*c);
        // The two options are one group, so the arrow keys move between them.
        if (c != &model_.Option1[1]) kind.style |= WS_GROUP;
        if (c->takesFocus()) kind.style |= WS_TABSTOP;
        const auto id = reinterpret_cast<HMENU>(INT_PTR(kFirstId + int(controls_.size())));
        HWND h = ::CreateWindowExW(kind.exStyle, kind.windowClass, L"", WS_CHILD | kind.style, 0, 0,
                                   0, 0, hwnd_, id, instance(), nullptr);
        if (auto* text = dynamic_cast<TextBox*>(c); text && text->MaxLength() > 0)
            ::SendMessageW(h, EM_LIMITTEXT, text->MaxLength(), 0);
        controls_.emplace_back(c, h);
    }
    layout();
    for (auto& [c, h] : controls_) controlChanged(*c);
}

void Win32WindowView::layout() {
    RECT frame = pixels({0, 0, OrvaneSetTime::ClientWidth, OrvaneSetTime::ClientHeight});
    ::AdjustWindowRectExForDpi(&frame, kWindowStyle, FALSE,
                               DWORD(::GetWindowLongW(hwnd_, GWL_EXSTYLE)), dpi_);
    ::SetWindowPos(hwnd_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (auto& [c, h] : controls_) {
        const RECT r = pixels(c->geometry());
        int height = r.bottom - r.top;
        if (dynamic_cast<ComboBox*>(c)) {
            // The closed box as tall as laid out (its edges take 6 pixels); the height a
            // combo box is given is that of its open list.
            ::SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(fontFor(logFontOf(c->font))),
                           FALSE);
            ::SendMessageW(h, CB_SETITEMHEIGHT, WPARAM(-1), std::max(height - 6, 1));
            height *= 8;
        }
        ::SetWindowPos(h, nullptr, r.left, r.top, r.right - r.left, height,
                       SWP_NOZORDER | SWP_NOACTIVATE);
        fitFont(*c, h, false);
    }
    ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, LPARAM(windowIcon(SM_CXICON, dpi_)));
    ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, LPARAM(windowIcon(SM_CXSMICON, dpi_)));
}

LOGFONTW Win32WindowView::logFontOf(const std::optional<Font>& font) const {
    LOGFONTW made{};
    if (font) {
        made.lfHeight = -::MulDiv(font->points, int(dpi_), 72);
        made.lfWeight = font->bold ? FW_BOLD : FW_NORMAL;
        made.lfCharSet = DEFAULT_CHARSET;
        ::lstrcpynW(made.lfFaceName, win32::wide(font->name).c_str(), LF_FACESIZE);
    } else {
        // The dialog font, grown with the DPI (the stock one is made for 96).
        ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof made, &made);
        made.lfHeight = ::MulDiv(made.lfHeight, int(dpi_), 96);
    }
    return made;
}

HFONT Win32WindowView::fontFor(const LOGFONTW& font) {
    const std::wstring key = std::wstring(font.lfFaceName) + L"/" + std::to_wstring(font.lfHeight) +
                             L"/" + std::to_wstring(font.lfWeight);
    auto [it, added] = fonts_.try_emplace(key);
    if (added) it->second = ::CreateFontIndirectW(&font);
    return it->second;
}

void Win32WindowView::fitFont(const Control& c, HWND h, bool redraw) {
    const LOGFONTW own = logFontOf(c.font);
    HFONT chosen = fontFor(own);
    const std::wstring text = win32::wide(c.shownText());
    if (const HDC dc = ::GetDC(h)) {
        const HGDIOBJ before = ::GetCurrentObject(dc, OBJ_FONT);
        const auto fits = [&](HFONT font) {
            ::SelectObject(dc, font);
            const auto room = captionRoom(c, h, dc, dpi_);
            return !room || fitsIn(dc, text, room->first, room->second);
        };
        if (!fits(chosen)) {
            for (const wchar_t* face : kFallbackFaces) {
                LOGFONTW other = own;
                if (::lstrcmpiW(face, own.lfFaceName) == 0) continue;
                ::lstrcpynW(other.lfFaceName, face, LF_FACESIZE);
                if (const HFONT font = fontFor(other); fits(font)) {
                    chosen = font;
                    break;
                }
            }
        }
        ::SelectObject(dc, before);
        ::ReleaseDC(h, dc);
    }
    if (HFONT(::SendMessageW(h, WM_GETFONT, 0, 0)) != chosen)
        ::SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(chosen), redraw);
}

HWND Win32WindowView::handleOf(const Control& control) const {
    for (auto& [c, h] : controls_)
        if (c == &control) return h;
    return nullptr;
}

bool Win32WindowView::dialogMessage(MSG& message) {
    return ::IsWindowVisible(hwnd_) && ::IsDialogMessageW(hwnd_, &message);
}

void Win32WindowView::controlChanged(const Control& c) {
    HWND h = handleOf(c);
    if (!h) return;
    const bool outer = !std::exchange(mirroring_, true);
    const bool visible = c.Visible() && !model_.neverShown(c);
    if (bool(::GetWindowLongW(h, GWL_STYLE) & WS_VISIBLE) != visible)
        ::ShowWindow(h, visible ? SW_SHOWNA : SW_HIDE);
    const std::wstring text = win32::wide(c.shownText());
    if (auto* combo = dynamic_cast<const ComboBox*>(&c)) {
        const auto& items = combo->List();
        bool same = ::SendMessageW(h, CB_GETCOUNT, 0, 0) == LRESULT(items.size());
        for (std::size_t i = 0; same && i < items.size(); ++i) {
            std::wstring item(std::size_t(::SendMessageW(h, CB_GETLBTEXTLEN, i, 0)) + 1, L'\0');
            item.resize(std::size_t(::SendMessageW(h, CB_GETLBTEXT, i, LPARAM(item.data()))));
            same = item == win32::wide(items[i]);
        }
        if (!same) {
            ::SendMessageW(h, CB_RESETCONTENT, 0, 0);
            for (const std::string& item : items)
                ::SendMessageW(h, CB_ADDSTRING, 0, LPARAM(win32::wide(item).c_str()));
        }
        // Keeps the caret where the user is typing.
        const LRESULT selection = ::SendMessageW(h, CB_GETEDITSEL, 0, 0);
        if (::SendMessageW(h, CB_GETCURSEL, 0, 0) != combo->ListIndex())
            ::SendMessageW(h, CB_SETCURSEL, WPARAM(combo->ListIndex()), 0);
        if (textOf(h) != text)
            ::SetWindowTextW(h, text.c_str());
        else
            ::SendMessageW(h, CB_SETEDITSEL, 0, MAKELPARAM(LOWORD(selection), HIWORD(selection)));
    } else {
        if (auto* check = dynamic_cast<const CheckBox*>(&c)) {
            // Only a three-state box can show grey.
            const LONG style = check->Value() == 2 ? BS_AUTO3STATE : BS_AUTOCHECKBOX;
            if ((::GetWindowLongW(h, GWL_STYLE) & BS_TYPEMASK) != style)
                ::SendMessageW(h, BM_SETSTYLE, style | BS_MULTILINE, TRUE);
            ::SendMessageW(h, BM_SETCHECK, WPARAM(check->Value()), 0);
        } else if (auto* option = dynamic_cast<const OptionButton*>(&c)) {
            ::SendMessageW(h, BM_SETCHECK, option->Value() ? BST_CHECKED : BST_UNCHECKED, 0);
            // Windows keeps the tab stop on the checked option; with none checked, on the
            // first, or Tab could not reach the group.
            HWND first = handleOf(*option->group.front());
            if (first && std::ranges::none_of(option->group, [](auto* o) { return o->Value(); }))
                ::SetWindowLongW(first, GWL_STYLE, ::GetWindowLongW(first, GWL_STYLE) | WS_TABSTOP);
        }
        if (textOf(h) != text) {  // keeps the caret
            ::SetWindowTextW(h, text.c_str());
            fitFont(c, h, true);
        }
    }
    if (outer) mirroring_ = false;
}

void Win32WindowView::act(Control& control, const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tidewell: %s\n", e.what());
    }
    // A handler may have refused or changed the user's choice; whatever it left is shown.
    controlChanged(control);
}

void Win32WindowView::command(int id, int code) {
    const std::size_t index = std::size_t(id - kFirstId);
    if (mirroring_ || index >= controls_.size()) return;
    auto [c, h] = controls_[index];
    if (auto* text = dynamic_cast<TextBox*>(c); text && code == EN_CHANGE) {
        act(*c, [&] { text->Text(win32::utf8(textOf(h))); });
    } else if (auto* combo = dynamic_cast<ComboBox*>(c)) {
        if (code == CBN_EDITCHANGE) act(*c, [&] { combo->Text(win32::utf8(textOf(h))); });
        if (code == CBN_SELCHANGE)
            ::PostMessageW(hwnd_, kPicked, WPARAM(id), ::SendMessageW(h, CB_GETCURSEL, 0, 0));
    } else if (code == BN_CLICKED) {
        if (auto* check = dynamic_cast<CheckBox*>(c)) act(*c, [&] { check->click(); });
        if (auto* option = dynamic_cast<OptionButton*>(c)) act(*c, [&] { option->Value(true); });
        if (auto* button = dynamic_cast<CommandButton*>(c)) act(*c, [&] { button->click(); });
    }
}

LRESULT Win32WindowView::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (lParam) {
            command(LOWORD(wParam), HIWORD(wParam));
        } else if (LOWORD(wParam) == IDOK) {
            // Enter in a list's text field picks the item it names, as a click on it would.
            const HWND focus = ::GetFocus();
            for (auto& [c, h] : controls_)
                if (auto* combo = dynamic_cast<ComboBox*>(c); combo && ::IsChild(h, focus)) {
                    const auto& items = combo->List();
                    const auto at = std::find(items.begin(), items.end(), combo->Text());
                    if (at != items.end()) act(*c, [&] { combo->choose(int(at - items.begin())); });
                }
        }
        return 0;
    case kPicked: {
        const std::size_t index = std::size_t(int(wParam) - kFirstId);
        if (index >= controls_.size() || int(lParam) < 0) return 0;
        if (auto* combo = dynamic_cast<ComboBox*>(controls_[index].first))
            act(*combo, [&] { combo->choose(int(lParam)); });
        return 0;
    }
    case WM_MOUSEMOVE:
        if (const auto button = trayButtonOf(LOWORD(lParam))) model_.trayClicked(*button);
        return 0;
    case WM_CLOSE:
        if (onClose) onClose();
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        // The process may end as soon as this returns.
        if (wParam && onClose) onClose();
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        const HDC dc = ::BeginPaint(hwnd_, &paint);
        const LineShape& line = model_.Line1;
        RECT r = pixels({line.x1, line.y1, line.x2 - line.x1, 0});
        r.bottom = r.top + std::max(1, ::MulDiv(1, int(dpi_), 96));
        ::FillRect(dc, &r, ::GetSysColorBrush(COLOR_WINDOWTEXT));
        ::EndPaint(hwnd_, &paint);
        return 0;
    }
    case WM_DPICHANGED: {
        dpi_ = HIWORD(wParam);
        auto old = std::exchange(fonts_, {});
        layout();
        for (auto& [key, font] : old) ::DeleteObject(font);
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        ::SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        ::InvalidateRect(hwnd_, nullptr, TRUE);
        return 0;
    }
    default:
        if (message == taskbarCreated_ && taskbarCreated_ && onTaskbarCreated) {
            onTaskbarCreated();
            return 0;
        }
        if (message == showMessage_ && showMessage_) {
            model_.trayClicked(TrayButton::Left);
            return 0;
        }
        return ::DefWindowProcW(hwnd_, message, wParam, lParam);
    }
}

// ---- The shell -----------------------------------------------------------------------------

Win32Shell::Win32Shell(EventLoop& loop, NotifyIconFunction notifyIcon)
    : loop_(loop), notifyIcon_(notifyIcon) {}

Win32Shell::~Win32Shell() {
    if (owner_) ::DestroyWindow(owner_);
}

bool Win32Shell::desktopAvailable() {
    const HWND probe = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                         instance(), nullptr);
    return probe && ::DestroyWindow(probe);
}

std::unique_ptr<Win32WindowView> Win32Shell::openWindow(OrvaneSetTime& model) {
    // Never shown: owning the window, it keeps the window's taskbar button to WS_EX_APPWINDOW.
    owner_ = ::CreateWindowExW(0, L"STATIC", L"Tidewell", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                               instance(), nullptr);
    auto window = std::make_unique<Win32WindowView>(model, owner_);
    model_ = &model;
    window_ = window.get();
    model.addMirror(*window);
    window->onClose = [this] {
        model_->Form_Unload();
        quit();
    };
    // Beyond the icon added once at start: Explorer restarted (or a DPI change) dropped it.
    window->onTaskbarCreated = [this] {
        if (trayWanted_) notify(NIM_ADD, icon_);
    };
    return window;
}

void Win32Shell::showWindow(bool shown) {
    if (!window_) return;
    const HWND h = window_->hwnd();
    if (!shown) {
        ::ShowWindow(h, SW_HIDE);
        return;
    }
    if (!std::exchange(shownOnce_, true)) {
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        ::GetMonitorInfoW(::MonitorFromWindow(h, MONITOR_DEFAULTTOPRIMARY), &monitor);
        RECT r;
        ::GetWindowRect(h, &r);
        const RECT& work = monitor.rcWork;
        ::SetWindowPos(h, nullptr, (work.left + work.right - (r.right - r.left)) / 2,
                       (work.top + work.bottom - (r.bottom - r.top)) / 2, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        if (HWND first = ::GetNextDlgTabItem(h, nullptr, FALSE)) ::SetFocus(first);
    }
    ::ShowWindow(h, SW_SHOWNORMAL);
    ::SetForegroundWindow(h);
}

void Win32Shell::showInTaskbar(bool shown) {
    if (!window_) return;
    const HWND h = window_->hwnd();
    const LONG style = ::GetWindowLongA(h, GWL_EXSTYLE);
    ::SetWindowLongA(h, GWL_EXSTYLE, shown ? style | WS_EX_APPWINDOW : style & ~WS_EX_APPWINDOW);
}

void Win32Shell::notify(DWORD command, const TrayIconRecord& icon) {
    if (!window_) return;
    NOTIFYICONDATAA data{};
    data.cbSize = sizeof data;
    data.hWnd = window_->hwnd();
    data.uID = 0;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = WM_MOUSEMOVE;
    data.hIcon = windowIcon(SM_CXSMICON, window_->dpi());
    std::memset(data.szTip, ' ', sizeof data.szTip);
    const std::size_t n = std::min(icon.tip.size(), sizeof data.szTip - 1);
    std::memcpy(data.szTip, icon.tip.data(), n);
    data.szTip[n] = '\0';
    notifyIcon_(command, &data);
}

void Win32Shell::addTrayIcon(const TrayIconRecord& icon) {
    icon_ = icon;
    trayWanted_ = true;
    notify(NIM_ADD, icon_);
}

void Win32Shell::modifyTrayIcon(const TrayIconRecord& icon) {
    icon_ = icon;
    if (trayWanted_) notify(NIM_MODIFY, icon_);
}

void Win32Shell::removeTrayIcon(const TrayIconRecord& icon) {
    trayWanted_ = false;
    notify(NIM_DELETE, icon);
}

MsgBoxAnswer Win32Shell::messageBox(std::string_view text, std::string_view title, MsgBoxIcon icon,
                                    MsgBoxButtons) {
    // Wide: the system's error descriptions arrive as UTF-8. In front even when the window is
    // hidden in the tray, where nothing else would bring it up.
    const UINT type = MB_OK | MB_SETFOREGROUND |
                      (icon == MsgBoxIcon::Critical ? MB_ICONERROR : MB_ICONEXCLAMATION);
    // The box's own message loop runs meanwhile: frames and readings must go on under it.
    auto* windowsLoop = dynamic_cast<WindowsEventLoop*>(&loop_);
    const EventLoop::Token serving = windowsLoop ? windowsLoop->serveWhileModal() : nullptr;
    ::MessageBoxW(window_ ? window_->hwnd() : nullptr, win32::wide(text).c_str(),
                  win32::wide(title).c_str(), type);
    return MsgBoxAnswer::Ok;
}

void Win32Shell::quit() {
    loop_.quit(0);
}

}  // namespace tidewell
