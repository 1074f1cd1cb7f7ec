// The Qt window against the window model, on the offscreen platform at 96 DPI.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gmock/gmock.h>

#include "app/qt/event_loop_qt.h"
#include "app/qt/qt_window.h"
#include "window_fixture.h"

// Caches fontconfig keeps for the life of the process.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

namespace tidewell {
namespace {

using ::testing::Contains;

QString shownText(QWidget* w) {
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentText();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    return "?";
}

std::string modelText(const Control& c) {
    if (auto* l = dynamic_cast<const Label*>(&c)) return l->Caption();
    if (auto* t = dynamic_cast<const TextBox*>(&c)) return t->Text();
    if (auto* b = dynamic_cast<const ComboBox*>(&c)) return b->Text();
    if (auto* b = dynamic_cast<const CheckBox*>(&c)) return b->Caption();
    if (auto* b = dynamic_cast<const OptionButton*>(&c)) return b->Caption();
    if (auto* b = dynamic_cast<const CommandButton*>(&c)) return b->Caption();
    return "?";
}

struct QtWindowTest : WindowTest {
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "test_qt_window";
        static char* argv[] = {name, nullptr};
        if (!qApp) new QApplication(argc, argv);
    }

    std::unique_ptr<QtWindowView> view;

    // The model, its view listening from the start, then start-up.
    OrvaneSetTime& open() {
        window = std::make_unique<OrvaneSetTime>(platform(), components(), "/tmp/Tidewell.ini");
        view = std::make_unique<QtWindowView>(*window);
        window->addView(*view);
        window->Form_Load();
        return *window;
    }
    template <class W = QWidget> W* widget(const Control& c) {
        return qobject_cast<W*>(view->widgetOf(c));
    }

    void expectMirrors() {
        for (Control* c : window->controls()) {
            SCOPED_TRACE(c->name());
            QWidget* w = view->widgetOf(*c);
            ASSERT_NE(w, nullptr);
            const Geometry& g = c->geometry();
            const auto px = [](int twips) { return int(std::lround(twips / 15.0)); };
            EXPECT_EQ(w->geometry(), QRect(px(g.left), px(g.top), px(g.width), px(g.height)));
            EXPECT_EQ(shownText(w).toStdString(),
                      c == &window->AutoStart ? "Auto-run at Startup" : modelText(*c));
            const Font font = c->font.value_or(QtWindowView::kDialogFont);
            EXPECT_EQ(w->font().pointSize(), font.points);
            EXPECT_EQ(w->font().bold(), font.bold);
            EXPECT_EQ(w->isVisibleTo(view.get()), c->Visible());
        }
    }
};

TEST_F(QtWindowTest, EveryControlMirrorsTheModelBeforeAndAfterChangesFromCode) {
    stored("UDP", "SendUDP", " 1");
    stored("GPS", "COMPORT", "COM3");
    OrvaneSetTime& w = open();
    EXPECT_EQ(view->size(), QSize(383, 447));
    EXPECT_EQ(view->windowTitle(), "Tidewell");
    EXPECT_EQ(view->windowIcon().availableSizes(), (QList<QSize>{{16, 16}, {32, 32}}));
    EXPECT_FALSE(view->windowFlags() &
                 (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    expectMirrors();

    // Code changes: a check box (and the controls it shows), a combo's text, a label.
    w.Check2.Value(1);
    w.Check1.Value(0);
    w.Combo1.Text("typed");
    w.Label2.Caption("Version 9");
    w.Option1[1].Value(true);
    expectMirrors();
    EXPECT_TRUE(widget<QCheckBox>(w.Check2)->isChecked());
    EXPECT_EQ(widget<QComboBox>(w.Combo1)->count(), 9);

    std::filesystem::create_directories(TIDEWELL_BINARY_DIR "/artifacts");
    view->grab().save(TIDEWELL_BINARY_DIR "/artifacts/window-offscreen.png");
}

TEST_F(QtWindowTest, TabOrderFollowsTheModelAndSkipsLabels) {
    OrvaneSetTime& w = open();
    std::vector<Control*> expected;
    for (Control* c : w.controls())
        if (c->takesFocus()) expected.push_back(c);
    std::ranges::stable_sort(expected, {}, &Control::tabIndex);

    std::vector<Control*> chain;
    QWidget* first = view->widgetOf(*expected.front());
    QWidget* at = first;
    do {
        for (Control* c : w.controls())
            if (c->takesFocus() && view->widgetOf(*c) == at) chain.push_back(c);
        at = at->nextInFocusChain();
    } while (at != first);
    EXPECT_EQ(chain, expected);
    EXPECT_EQ(expected[1], &w.Command1);  // the first that can be seen
}

TEST_F(QtWindowTest, UserActionsReachTheHandlers) {
    OrvaneSetTime& w = open();
    struct Row {
        const char* name;
        std::function<void()> act;
        std::string write;  // what the handler stores
    };
    const std::vector<Row> rows{
        {"click on Check1", [&] { QTest::mouseClick(widget(w.Check1), Qt::LeftButton); },
         "UDP/SENDUDP= 1"},
        {"click on a wrapped caption's second line",
         [&] {
             QWidget* box = widget(w.Check4);
             QTest::mouseClick(box, Qt::LeftButton, {},
                               QPoint(box->width() - 5, box->height() - 5));
         },
         "Analog/BATTERYSAVE= 1"},
        {"Enter on a typed port in Combo1",
         [&] {
             QLineEdit* edit = widget<QComboBox>(w.Combo1)->lineEdit();
             edit->selectAll();
             QTest::keyClicks(edit, "COM2");
             QTest::keyClick(edit, Qt::Key_Return);
         },
         "GPS/COMPORT=COM2"},
        {"arrow key to the next port in Combo1",
         [&] { QTest::keyClick(widget(w.Combo1), Qt::Key_Down); }, "GPS/COMPORT=COM3"},
        {"click on LOCAL", [&] { QTest::mouseClick(widget(w.Option1[1]), Qt::LeftButton); },
         "SerialSync/TIMELOCAL=True"},
        {"click on AutoStart", [&] { QTest::mouseClick(widget(w.AutoStart), Qt::LeftButton); },
         "GPS/AUTOSTART= 1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        profile.writes.clear();
        row.act();
        EXPECT_THAT(profile.writes, Contains(row.write));
    }
    EXPECT_EQ(w.Combo1.Text(), "COM3");
    EXPECT_THAT(nmea.calls, Contains("OpenPort 2"));
    EXPECT_TRUE(widget<QAbstractButton>(w.Option1[1])->isChecked());
    EXPECT_FALSE(widget<QAbstractButton>(w.Option1[0])->isChecked());

    // Typing alone is no pick, and a handler's refusal shows in the widget.
    profile.writes.clear();
    QTest::keyClicks(widget<QComboBox>(w.Combo1)->lineEdit(), "x");
    EXPECT_EQ(w.Combo1.Text(), "COM3x");
    EXPECT_TRUE(profile.writes.empty());
    w.Check2.Value(1);
    w.Combo2.Text("COM3");
    widget<QComboBox>(w.Combo1)->lineEdit()->clear();
    QTest::keyClicks(widget<QComboBox>(w.Combo1)->lineEdit(), "COM3");
    QTest::keyClick(widget<QComboBox>(w.Combo1)->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(shell.boxes.size(), 1u);
    EXPECT_EQ(widget<QComboBox>(w.Combo1)->currentText(), "None");

    w.trayClicked(TrayButton::Left);
    QTest::mouseClick(widget(w.Command4), Qt::LeftButton);
    EXPECT_FALSE(w.Timer1.Enabled());
    EXPECT_FALSE(shell.windowShown);
}

// The desktop shell over the model, where the offscreen platform has no tray.
struct QtShellTest : QtWindowTest {
    QtEventLoop loop;
    QtShell desktop{loop};
    std::unique_ptr<QtWindowView> shown;

    OrvaneSetTime& start() {
        window = std::make_unique<OrvaneSetTime>(
            OrvaneSetTime::Platform{desktop, profile, autoRun, clock}, components(),
            "/tmp/Tidewell.ini");
        shown = desktop.openWindow(*window);
        window->Form_Load();
        return *window;
    }
};

TEST_F(QtShellTest, WithoutATrayTheWindowShowsAtStartAndHideMinimises) {
    OrvaneSetTime& w = start();
    ASSERT_FALSE(desktop.hasTray());
    EXPECT_FALSE(shown->isVisible());
    QTRY_VERIFY(shown->isVisible());
    EXPECT_TRUE(w.Timer1.Enabled());

    w.Command4_Click();
    EXPECT_TRUE(shown->isMinimized());
    shown->showNormal();  // the user restores it from the taskbar
    QTRY_VERIFY(w.Timer1.Enabled());
    EXPECT_TRUE(w.Visible());
}

TEST_F(QtShellTest, MessageBoxesAreModalAndReturnOnceClosed) {
    start();
    for (auto [icon, shown] : {std::pair{MsgBoxIcon::Critical, QMessageBox::Critical},
                               std::pair{MsgBoxIcon::Exclamation, QMessageBox::Warning}}) {
        QString seen;
        QMessageBox::Icon seenIcon = QMessageBox::NoIcon;
        QTimer::singleShot(50, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            seen = box->windowTitle() + ": " + box->text();
            seenIcon = box->icon();
            box->button(QMessageBox::Ok)->click();
        });
        EXPECT_EQ(desktop.messageBox("The host is unknown", "11001", icon, MsgBoxButtons::Ok),
                  MsgBoxAnswer::Ok);
        EXPECT_EQ(seen, "11001: The host is unknown");
        EXPECT_EQ(seenIcon, shown);
    }
}

TEST(TrayClicks, LeftRightAndDoubleRestoreTheWindowAndNothingElseDoes) {
    EXPECT_EQ(trayButtonOf(QSystemTrayIcon::Trigger), TrayButton::Left);
    EXPECT_EQ(trayButtonOf(QSystemTrayIcon::DoubleClick), TrayButton::Double);
    EXPECT_EQ(trayButtonOf(QSystemTrayIcon::Context), TrayButton::Right);
    EXPECT_EQ(trayButtonOf(QSystemTrayIcon::MiddleClick), std::nullopt);
    EXPECT_EQ(trayButtonOf(QSystemTrayIcon::Unknown), std::nullopt);
}

TEST_F(QtShellTest, TheCloseBoxUnloadsWithoutSavingThePort) {
    start();
    profile.writes.clear();
    nmea.calls.clear();
    shown->close();
    EXPECT_THAT(nmea.calls, Contains("ClosePort"));
    EXPECT_TRUE(profile.writes.empty());
}

}  // namespace
}  // namespace tidewell
