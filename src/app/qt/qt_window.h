#pragma once
// The window on a Linux desktop: Qt widgets that mirror the window model's controls, placed
// from their twips, and the desktop shell (tray icon, message boxes, quitting) around them.
// The widgets hold no state of their own: a user's action goes to the model, and what the
// model changes comes back through controlChanged.
#include <QCoreApplication>
#include <QString>
#include <QSystemTrayIcon>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "app/orvane_set_time.h"
#include "app/control_mirror.h"
#include "platform/event_loop.h"
#include "platform/shell.h"

namespace tidewell {

// The tray icon's click as the model knows it; nothing for a middle click.
std::optional<TrayButton> trayButtonOf(QSystemTrayIcon::ActivationReason reason);

class QtWindowView : public QWidget, public ControlMirror {
public:
    // The window's own font, which every control without one of its own uses.
    static inline const Font kDialogFont{"MS Sans Serif", 8, false};

    explicit QtWindowView(OrvaneSetTime& model);

    void controlChanged(const Control& control) override;
    // The widget that shows a control.
    QWidget* widgetOf(const Control& control) const;
    // Whether the window may have a taskbar button; changed only while it is hidden.
    void inTaskbar(bool shown);
    // Twips to pixels at this screen's logical DPI.
    QRect pixels(const Geometry& g) const;

    // What the title bar's close box and a minimised window's restore do.
    std::function<void()> onClose;
    std::function<void()> onRestore;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void build();
    // The nearest this desktop has to a face the window was laid out with.
    QFont fontOf(const Font& font) const;
    void act(const std::function<void()>& action);
    QString textOf(const Control& control) const;

    OrvaneSetTime& model_;
    std::map<const Control*, QWidget*> widgets_;
};

// The application object: a QApplication for the window when `windowed`, else a
// QCoreApplication. A display named but out of reach (an ssh session's stale DISPLAY) would
// make Qt abort, so offscreen is tried last, and then `windowed` turns false.
std::unique_ptr<QCoreApplication> makeApplication(int& argc, char** argv, bool& windowed);

class QtShell : public Shell {
public:
    static constexpr int kTrayRetries = 5;
    static constexpr int kTrayRetryMs = 5000;

    explicit QtShell(EventLoop& loop);
    ~QtShell() override;

    // Creates the window for `model` and takes the shell's part of it.
    std::unique_ptr<QtWindowView> openWindow(OrvaneSetTime& model);

    void showWindow(bool shown) override;
    void showInTaskbar(bool) override {}
    void addTrayIcon(const TrayIconRecord& icon) override;
    void modifyTrayIcon(const TrayIconRecord& icon) override;
    void removeTrayIcon(const TrayIconRecord& icon) override;
    MsgBoxAnswer messageBox(std::string_view text, std::string_view title, MsgBoxIcon icon,
                            MsgBoxButtons buttons) override;
    void quit() override;

    bool hasTray() const { return tray_ != nullptr; }

private:
    void tryTray();

    EventLoop& loop_;
    OrvaneSetTime* model_ = nullptr;
    QtWindowView* window_ = nullptr;
    std::unique_ptr<QSystemTrayIcon> tray_;
    TrayIconRecord icon_;
    bool wanted_ = false;  // added and not removed since
    bool shownOnce_ = false;
    int retriesLeft_ = kTrayRetries;
    EventLoop::Token retry_;
    EventLoop::Token showAtStart_;
};

}  // namespace tidewell
