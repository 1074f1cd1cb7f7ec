#pragma once
// The shell without a desktop: no window and no tray icon; what a message box would say
// becomes a report line.
#include "app/event_report.h"
#include "platform/event_loop.h"
#include "platform/shell.h"

namespace tidewell {

class HeadlessShell : public Shell {
public:
    HeadlessShell(EventReport& report, EventLoop& loop) : report_(report), loop_(loop) {}

    void showWindow(bool) override {}
    void showInTaskbar(bool) override {}
    void addTrayIcon(const TrayIconRecord&) override {}
    void modifyTrayIcon(const TrayIconRecord&) override {}
    void removeTrayIcon(const TrayIconRecord&) override {}
    MsgBoxAnswer messageBox(std::string_view text, std::string_view title, MsgBoxIcon,
                            MsgBoxButtons) override {
        report_.failure("message: " + std::string(title) + ": " + std::string(text));
        return MsgBoxAnswer::Ok;
    }
    void quit() override { loop_.quit(0); }

private:
    EventReport& report_;
    EventLoop& loop_;
};

}  // namespace tidewell
