// The Qt window against the window model, on the offscreen platform at 96 DPI.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gmock/gmock.h>

#include "app/qt/event_loop_qt.h"
#include "app/qt/qt_window.h"
#include "window_fixture.h"
#include "window_reading.h"

// Caches fontconfig keeps for the life of the process.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

namespace tidewell {
namespace {

using ::testing::Contains;

// The model and its widgets, the view listening from the start; or the desktop shell's
// window, which the offscreen platform gives no tray.
struct QtWindowTest : WindowTest, testing::WindowReading {
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "test_qt_window", *argv[] = {name, nullptr};
        if (!qApp) new QApplication(argc, argv);
    }
    QtEventLoop loop;
    QtShell desktop{loop};
    std::unique_ptr<QtWindowView> view;

    OrvaneSetTime& open(Shell& on) {
        const OrvaneSetTime::Platform platform{on, profile, autoRun, clock, "/opt/tw"};
        window =
            std::make_unique<OrvaneSetTime>(platform, components(), events, "/tmp/Tidewell.ini");
        view =
            &on == &shell ? std::make_unique<QtWindowView>(*window) : desktop.openWindow(*window);
        if (&on == &shell) window->addMirror(*view);
        window->Form_Load();
        return *window;
    }
    QWidget* widget(const Control& c) { return view->widgetOf(c); }
    QLineEdit* combo1Edit() { return qobject_cast<QComboBox*>(widget(window->Combo1))->lineEdit(); }

    // The widgets as the shared window check reads them; the check box's caption is Linux's.
    testing::ShownControl read(const Control& c) override {
        const QWidget* w = widget(c);
        const char* text = qobject_cast<const QComboBox*>(w) ? "currentText" : "text";
        const QRect r = w->geometry();
        const std::string shown = w->property(text).toString().toStdString();
        return {{r.x(), r.y(), r.width(), r.height()},
                shown,
                std::pair(w->font().pixelSize(), w->font().bold()),
                w->isVisibleTo(view.get())};
    }
    std::vector<const Control*> tabChain() override {
        std::vector<const Control*> chain;
        for (QWidget* at = view->nextInFocusChain(); at != view.get(); at = at->nextInFocusChain())
            for (Control* c : window->controls())
                if (widget(*c) == at && at->focusPolicy() != Qt::NoFocus) chain.push_back(c);
        return chain;
    }
    std::pair<int, int> clientSize() override { return {view->width(), view->height()}; }
    std::string textOf(const Control& c) override {
        return &c == &window->AutoStart ? "Auto-run at Startup" : c.shownText();
    }
};

// Every control mirrors the model before and after changes from code; the user's clicks and
// picks reach the handlers.
TEST_F(QtWindowTest, EveryControlMirrorsTheModelAndUserClicksAndPicksReachTheHandlers) {
    OrvaneSetTime& w = open(shell);
    testing::expectMirrors(w, *this);
    w.Check2.Value(1), w.Combo1.Text("typed");  // Check2 shows the controls it governs
    w.Label2.Caption("Version 9"), w.Option1[1].Value(true);
    testing::expectMirrors(w, *this);
    EXPECT_TRUE(qobject_cast<QAbstractButton*>(widget(w.Check2))->isChecked());

    profile.writes.clear();
    QTest::mouseClick(widget(w.Check1), Qt::LeftButton);
    EXPECT_THAT(profile.writes, Contains("UDP/SENDUDP= 1"));

    QTest::keyClicks(combo1Edit(), "x");  // typing alone is no pick
    EXPECT_THAT(profile.writes, ::testing::Not(Contains(::testing::StartsWith("GPS/COMPORT"))));
    combo1Edit()->clear();
    QTest::keyClicks(combo1Edit(), "COM2");
    QTest::keyClick(combo1Edit(), Qt::Key_Return);
    EXPECT_THAT(profile.writes, Contains("GPS/COMPORT=COM2"));
    EXPECT_THAT(nmea.calls, Contains("OpenPort 2"));
}

TEST_F(QtWindowTest, WithoutATrayTheWindowShowsAtStartAndMessageBoxesWaitForOk) {
    open(desktop);
    QTRY_VERIFY(view->isVisible());
    for (auto [icon, shown] : {std::pair{MsgBoxIcon::Critical, QMessageBox::Critical},
                               std::pair{MsgBoxIcon::Exclamation, QMessageBox::Warning}}) {
        QTimer::singleShot(50, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->windowTitle() + ": " + box->text(), "11001: The host is unknown");
            EXPECT_EQ(box->icon(), shown);
            box->button(QMessageBox::Ok)->click();
        });
        EXPECT_EQ(desktop.messageBox("The host is unknown", "11001", icon, MsgBoxButtons::Ok),
                  MsgBoxAnswer::Ok);
    }
}

}  // namespace
}  // namespace tidewell
