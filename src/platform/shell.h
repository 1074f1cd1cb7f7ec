#pragma once
// What the window model needs of the desktop besides its own controls: the window and its
// taskbar button, the tray icon, modal message boxes, and ending the run. Each platform's
// window implements it in its own terms; headless, boxes become report lines.
#include <string>
#include <string_view>

#include "platform/notify_icon.h"

namespace tidewell {

enum class MsgBoxIcon { Exclamation, Critical };
enum class MsgBoxButtons { Ok };
enum class MsgBoxAnswer { Ok };

class Shell {
public:
    virtual ~Shell() = default;

    virtual void showWindow(bool shown) = 0;
    virtual void showInTaskbar(bool shown) = 0;

    virtual void addTrayIcon(const TrayIconRecord& icon) = 0;
    virtual void modifyTrayIcon(const TrayIconRecord& icon) = 0;
    virtual void removeTrayIcon(const TrayIconRecord& icon) = 0;

    // Shows a modal message box and returns the user's answer once it is closed. Events go
    // on meanwhile, as under a modal loop.
    virtual MsgBoxAnswer messageBox(std::string_view text, std::string_view title, MsgBoxIcon icon,
                                    MsgBoxButtons buttons) = 0;

    // Ends the program at once: no timer tick or control event runs afterwards.
    virtual void quit() = 0;
};

}  // namespace tidewell
