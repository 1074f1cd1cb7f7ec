#include "app/qt/qt_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QSystemTrayIcon>

#include <malloc.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/qt/app_icon.h"
#include "platform/paths.h"

namespace tidewell {

namespace {

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

// Check boxes and option buttons whose captions wrap within their width and centre beside
// the indicator, with the whole control clickable.
template <class Base> class WrappingButton : public Base {
public:
    using Base::Base;

protected:
    static constexpr bool kRadio = std::is_same_v<Base, QRadioButton>;

    void paintEvent(QPaintEvent*) override {
        QStylePainter p(this);
        QStyleOptionButton option;
        this->initStyleOption(&option);
        const QString text = option.text;
        option.text.clear();
        p.drawControl(kRadio ? QStyle::CE_RadioButton : QStyle::CE_CheckBox, option);
        // The caption close beside the indicator, as on Windows; the style's wider gap would
        // wrap captions the window was laid out to show in fewer lines.
        const QRect indicator = this->style()->subElementRect(
            kRadio ? QStyle::SE_RadioButtonIndicator : QStyle::SE_CheckBoxIndicator, &option, this);
        const QRect contents = this->rect().adjusted(
            indicator.right() + 1 + this->fontMetrics().averageCharWidth() / 2, 0, 0, 0);
        p.drawItemText(contents, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap,
                       option.palette, this->isEnabled(), text, QPalette::WindowText);
    }
    bool hitButton(const QPoint& pos) const override { return this->rect().contains(pos); }
};

}  // namespace

std::optional<TrayButton> trayButtonOf(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        return TrayButton::Left;
    case QSystemTrayIcon::DoubleClick:
        return TrayButton::Double;
    case QSystemTrayIcon::Context:  // the right button
        return TrayButton::Right;
    default:
        return std::nullopt;
    }
}

QFont QtWindowView::fontOf(const Font& font) const {
    // The face itself, its successor or a metric twin; else the usual stand-in, whose
    // semi-condensed cut is about as wide. Picked by name, so no face is opened only to look.
    const QStringList installed = QFontDatabase::families();
    QString family = "DejaVu Sans";
    for (const QString& name : {q(font.name), QString("Microsoft Sans Serif"),
                                QString("Liberation Sans"), QString("Arimo")})
        if (installed.contains(name, Qt::CaseInsensitive)) {
            family = name;
            break;
        }
    QFont f(family);
    // Whole pixels from the points, rounded as Windows does, so captions wrap as they do there.
    f.setPixelSize(int(std::lround(font.points * logicalDpiY() / 72.0)));
    f.setBold(font.bold);
    if (family == "DejaVu Sans") f.setStretch(QFont::SemiCondensed);
    return f;
}

// ---- The window ----------------------------------------------------------------------------

QtWindowView::QtWindowView(OrvaneSetTime& model) : model_(model) {
    inTaskbar(true);
    setWindowTitle(OrvaneSetTime::Caption);
    setWindowIcon(appIcon());
    // The application's too: a line edit lays out its text in that font before it takes its
    // own, and message boxes use it; one face loaded, not two.
    QApplication::setFont(fontOf(kDialogFont));
    setFont(fontOf(kDialogFont));
    setFixedSize(pixels({0, 0, OrvaneSetTime::ClientWidth, OrvaneSetTime::ClientHeight}).size());
    build();
}

// While the tray icon stands for it, a tool window, which window managers keep out of the
// taskbar (on X11: _NET_WM_WINDOW_TYPE_UTILITY, transient for the application). Without a
// tray the button is the only way back to a minimised window.
void QtWindowView::inTaskbar(bool shown) {
    const Qt::WindowFlags flags = (shown ? Qt::Window : Qt::Tool) | Qt::CustomizeWindowHint |
                                  Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                  Qt::WindowCloseButtonHint;
    if (windowFlags() != flags) setWindowFlags(flags);
}

QRect QtWindowView::pixels(const Geometry& g) const {
    const auto x = [&](int twips) { return int(std::lround(twips * logicalDpiX() / 1440.0)); };
    const auto y = [&](int twips) { return int(std::lround(twips * logicalDpiY() / 1440.0)); };
    return QRect(x(g.left), y(g.top), x(g.width), y(g.height));
}

void QtWindowView::build() {
    for (Control* c : model_.controls()) {
        QWidget* w = nullptr;
        if (dynamic_cast<Label*>(c)) {
            auto* l = new QLabel(this);
            l->setWordWrap(true);
            l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            w = l;
        } else if (auto* text = dynamic_cast<TextBox*>(c)) {
            auto* e = new QLineEdit(this);
            if (text->MaxLength() > 0) e->setMaxLength(int(text->MaxLength()));
            QObject::connect(e, &QLineEdit::textEdited, e, [this, text](const QString& typed) {
                act([&] { text->Text(typed.toStdString()); });
            });
            w = e;
        } else if (auto* combo = dynamic_cast<ComboBox*>(c)) {
            auto* box = new QComboBox(this);
            box->setEditable(true);
            box->setInsertPolicy(QComboBox::NoInsert);
            box->setCompleter(nullptr);
            // A pick from the list, or Enter on a text that names an item (Qt itself picks
            // nothing on Enter when it may not insert).
            QObject::connect(box, &QComboBox::activated, box,
                             [this, combo](int index) { act([&] { combo->choose(index); }); });
            QObject::connect(box->lineEdit(), &QLineEdit::returnPressed, box, [this, combo, box] {
                if (const int index = box->findText(box->currentText()); index >= 0)
                    act([&] { combo->choose(index); });
            });
            QObject::connect(box->lineEdit(), &QLineEdit::textEdited, box,
                             [this, combo](const QString& typed) {
                                 act([&] { combo->Text(typed.toStdString()); });
                             });
            w = box;
        } else if (auto* check = dynamic_cast<CheckBox*>(c)) {
            auto* b = new WrappingButton<QCheckBox>(this);
            QObject::connect(b, &QCheckBox::clicked, b,
                             [this, check] { act([&] { check->click(); }); });
            w = b;
        } else if (auto* option = dynamic_cast<OptionButton*>(c)) {
            auto* b = new WrappingButton<QRadioButton>(this);
            b->setAutoExclusive(false);  // the model deselects the others
            QObject::connect(b, &QRadioButton::clicked, b,
                             [this, option] { act([&] { option->Value(true); }); });
            w = b;
        } else if (auto* command = dynamic_cast<CommandButton*>(c)) {
            auto* b = new QPushButton(this);
            b->setAutoDefault(false);
            QObject::connect(b, &QPushButton::clicked, b,
                             [this, command] { act([&] { command->click(); }); });
            w = b;
        }
        if (!w) continue;
        w->setObjectName(q(c->name()));
        w->setGeometry(pixels(c->geometry()));
        if (c->font) w->setFont(fontOf(*c->font));
        if (!c->takesFocus()) w->setFocusPolicy(Qt::NoFocus);
        widgets_[c] = w;
        controlChanged(*c);
    }

    const LineShape& line = model_.Line1;
    auto* rule = new QWidget(this);
    rule->setObjectName(q(line.name));
    const QRect ends = pixels({line.x1, line.y1, line.x2 - line.x1, 0});
    rule->setGeometry(ends.x(), ends.y(), ends.width(), 1);
    rule->setAutoFillBackground(true);
    QPalette palette = rule->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::WindowText));
    rule->setPalette(palette);

    std::vector<Control*> order;
    for (Control* c : model_.controls())
        if (c->takesFocus()) order.push_back(c);
    std::stable_sort(order.begin(), order.end(),
                     [](Control* a, Control* b) { return a->tabIndex() < b->tabIndex(); });
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(widgets_[order[i - 1]], widgets_[order[i]]);
    // The first in the order that can be shown has the focus when the window opens.
    for (Control* c : order)
        if (!model_.neverShown(*c)) {
            widgets_[c]->setFocus();
            break;
        }
}

QString QtWindowView::textOf(const Control& c) const {
    if (&c == &model_.AutoStart) return "Auto-run at Startup";
    return q(c.shownText());
}

QWidget* QtWindowView::widgetOf(const Control& control) const {
    auto it = widgets_.find(&control);
    return it == widgets_.end() ? nullptr : it->second;
}

void QtWindowView::act(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tidewell: %s\n", e.what());
    }
    // A handler may have refused or changed the user's choice; whatever it left is shown.
    for (Control* c : model_.controls()) controlChanged(*c);
}

void QtWindowView::controlChanged(const Control& c) {
    QWidget* w = widgetOf(c);
    if (!w) return;
    const QSignalBlocker block(w);
    w->setVisible(c.Visible() && !model_.neverShown(c));
    const QString text = textOf(c);
    if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(text);
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        if (edit->text() != text) edit->setText(text);  // keeps the cursor while typing
    } else if (auto* box = qobject_cast<QComboBox*>(w)) {
        const auto& combo = static_cast<const ComboBox&>(c);
        const QSignalBlocker blockEdit(box->lineEdit());
        QStringList items;
        for (const std::string& item : combo.List()) items << q(item);
        QStringList shown;
        for (int i = 0; i < box->count(); ++i) shown << box->itemText(i);
        if (shown != items) {
            box->clear();
            box->addItems(items);
        }
        if (box->currentIndex() != combo.ListIndex()) box->setCurrentIndex(combo.ListIndex());
        if (box->currentText() != text) box->setEditText(text);
    } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
        const int value = static_cast<const CheckBox&>(c).Value();
        check->setText(text);
        check->setTristate(value == 2);
        check->setCheckState(value == 0   ? Qt::Unchecked
                             : value == 1 ? Qt::Checked
                                          : Qt::PartiallyChecked);
    } else if (auto* radio = qobject_cast<QRadioButton*>(w)) {
        radio->setText(text);
        radio->setChecked(static_cast<const OptionButton&>(c).Value());
    } else if (auto* button = qobject_cast<QPushButton*>(w)) {
        button->setText(text);
    }
}

void QtWindowView::closeEvent(QCloseEvent* event) {
    event->accept();
    if (onClose) onClose();
}

void QtWindowView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange) return;
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    if ((change->oldState() & Qt::WindowMinimized) && !isMinimized() && onRestore) onRestore();
}

// ---- The shell -----------------------------------------------------------------------------

QtShell::QtShell(EventLoop& loop) : loop_(loop) {}

QtShell::~QtShell() = default;

std::unique_ptr<QtWindowView> QtShell::openWindow(OrvaneSetTime& model) {
    // Message boxes over a hidden window must not end the program when they close.
    QApplication::setQuitOnLastWindowClosed(false);
    auto window = std::make_unique<QtWindowView>(model);
    model_ = &model;
    window_ = window.get();
    model.addMirror(*window);
    window->onClose = [this] {
        model_->Form_Unload();
        quit();
    };
    // Without a tray, a minimised window stands for a hidden one; restoring it is the click.
    window->onRestore = [this] {
        if (!tray_) model_->trayClicked(TrayButton::Left);
    };
    return window;
}

void QtShell::showWindow(bool shown) {
    if (!window_) return;
    if (!shown) {
        if (tray_ || !window_->isVisible())
            window_->hide();
        else
            window_->showMinimized();  // the only way back while there is no tray
        return;
    }
    window_->inTaskbar(!tray_);
    if (!shownOnce_) {
        shownOnce_ = true;
        const QRect screen = window_->screen()->availableGeometry();
        window_->move(screen.center() - window_->rect().center());
    }
    window_->showNormal();
    window_->raise();
    window_->activateWindow();
}

void QtShell::addTrayIcon(const TrayIconRecord& icon) {
    icon_ = icon;
    wanted_ = true;
    retriesLeft_ = kTrayRetries;
    tryTray();
    if (tray_) return;
    std::fprintf(stderr,
                 "tidewell: no system tray; the window is shown instead and \"Hide Program\" "
                 "minimises it (the tray is tried again %d times, %d s apart)\n",
                 kTrayRetries, kTrayRetryMs / 1000);
    // Shown as a click on the icon would, once start-up is over.
    showAtStart_ = loop_.after(0, [this] {
        if (model_) model_->trayClicked(TrayButton::Left);
    });
}

void QtShell::tryTray() {
    if (!wanted_ || tray_) return;
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        if (retriesLeft_-- > 0) retry_ = loop_.after(kTrayRetryMs, [this] { tryTray(); });
        return;
    }
    tray_ = std::make_unique<QSystemTrayIcon>(appIcon());
    tray_->setToolTip(q(icon_.tip));
    QObject::connect(tray_.get(), &QSystemTrayIcon::activated, tray_.get(),
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (const auto button = trayButtonOf(reason); button && model_)
                             model_->trayClicked(*button);
                     });
    tray_->show();
}

void QtShell::modifyTrayIcon(const TrayIconRecord& icon) {
    icon_ = icon;
    if (tray_) tray_->setToolTip(q(icon_.tip));
}

void QtShell::removeTrayIcon(const TrayIconRecord&) {
    wanted_ = false;
    retry_.reset();
    if (tray_) tray_->hide();
    tray_.reset();
}

MsgBoxAnswer QtShell::messageBox(std::string_view text, std::string_view title, MsgBoxIcon icon,
                                 MsgBoxButtons) {
    QWidget* parent = window_ && window_->isVisible() ? window_ : nullptr;
    QMessageBox box(icon == MsgBoxIcon::Critical ? QMessageBox::Critical : QMessageBox::Warning,
                    q(std::string(title)), q(std::string(text)), QMessageBox::Ok, parent);
    box.setWindowIcon(appIcon());
    box.exec();
    return MsgBoxAnswer::Ok;
}

void QtShell::quit() {
    loop_.quit(0);
}

std::unique_ptr<QCoreApplication> makeApplication(int& argc, char** argv, bool& windowed) {
    // The program runs on one thread; Qt's few helper threads need no malloc arenas of their own.
    ::mallopt(M_ARENA_MAX, 1);
    // Qt's own event dispatcher rather than GLib's: the loop watches descriptors and timers only,
    // and GLib's costs a fifth of a megabyte more.
    const bool noGlib = !std::getenv("QT_NO_GLIB");
    if (noGlib) ::setenv("QT_NO_GLIB", "1", 1);
    const bool fallback = windowed && !std::getenv("QT_QPA_PLATFORM");
    if (fallback) ::setenv("QT_QPA_PLATFORM", "xcb;wayland;offscreen", 1);
    auto app = windowed ? std::make_unique<QApplication>(argc, argv)
                        : std::make_unique<QCoreApplication>(argc, argv);
    if (noGlib) ::unsetenv("QT_NO_GLIB");  // nor for anything the program starts
    if (fallback) {
        ::unsetenv("QT_QPA_PLATFORM");  // not for the demo's simulator or anything it starts
        if (QGuiApplication::platformName() == "offscreen") {
            std::fputs("tidewell: no display could be opened; running without a window\n", stderr);
            windowed = false;
        }
    }
    return app;
}

}  // namespace tidewell
