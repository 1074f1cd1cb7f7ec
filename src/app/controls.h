#pragma once
// The window's controls as plain values. They own the event rule that the handlers rely on:
// assigning a check box's state or selecting an option from code raises its click when the
// state changes; writing a different text into a text box raises its change; setting a combo
// box's text raises nothing. Views only mirror these objects.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tidewell {

// Position and size in twips (1/1440 inch).
struct Geometry {
    int left = 0, top = 0, width = 0, height = 0;
};

struct Font {
    std::string name;
    int points = 0;
    bool bold = false;
};

class Control;

// Told after a control's property changed; the window model listens and passes it on to the
// windows that mirror it.
class ControlObserver {
public:
    virtual void controlChanged(const Control& control) = 0;

protected:
    ~ControlObserver() = default;
};

class Control {
public:
    Control(std::string name, Geometry geometry, int tabIndex)
        : name_(std::move(name)), geometry_(geometry), tabIndex_(tabIndex) {}
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;
    virtual ~Control() = default;

    const std::string& name() const { return name_; }
    const Geometry& geometry() const { return geometry_; }
    int tabIndex() const { return tabIndex_; }
    // Labels hold a place in the tab order but never take the focus.
    virtual bool takesFocus() const { return true; }
    // What a view shows on it: the caption, or a text box's or list's text.
    virtual const std::string& shownText() const = 0;

    bool Visible() const { return visible_; }
    void Visible(bool visible);

    std::optional<Font> font;

    ControlObserver* observer = nullptr;

protected:
    void notifyView() {
        if (observer) observer->controlChanged(*this);
    }

private:
    std::string name_;
    Geometry geometry_;
    int tabIndex_;
    bool visible_ = true;
};

class Label : public Control {
public:
    Label(std::string name, std::string caption, Geometry g, int tab)
        : Control(std::move(name), g, tab), caption_(std::move(caption)) {}
    bool takesFocus() const override { return false; }
    const std::string& Caption() const { return caption_; }
    const std::string& shownText() const override { return caption_; }
    void Caption(std::string caption);

private:
    std::string caption_;
};

class TextBox : public Control {
public:
    TextBox(std::string name, std::string text, Geometry g, int tab, std::size_t maxLength = 0)
        : Control(std::move(name), g, tab), text_(std::move(text)), maxLength_(maxLength) {}
    const std::string& Text() const { return text_; }
    const std::string& shownText() const override { return text_; }
    // Raises Change when the text differs from the current one.
    void Text(std::string text);
    // Typing limit for the user; 0 means none. Code may write longer texts.
    std::size_t MaxLength() const { return maxLength_; }

    std::function<void()> Change;

private:
    std::string text_;
    std::size_t maxLength_;
};

class ComboBox : public Control {
public:
    ComboBox(std::string name, std::string text, Geometry g, int tab,
             std::vector<std::string> items = {})
        : Control(std::move(name), g, tab), text_(std::move(text)), items_(std::move(items)) {}

    const std::string& Text() const { return text_; }
    const std::string& shownText() const override { return text_; }
    // Raises nothing. The list position follows the text when it names an item exactly.
    void Text(std::string text);
    const std::vector<std::string>& List() const { return items_; }
    void AddItem(std::string item);
    void Clear();
    // Position of the chosen item, -1 when the text names none.
    int ListIndex() const { return listIndex_; }

    // The user's pick from the list: text and position follow it, then Click runs.
    void choose(int index);

    std::function<void()> Click;

private:
    std::string text_;
    std::vector<std::string> items_;
    int listIndex_ = -1;
};

class CheckBox : public Control {
public:
    CheckBox(std::string name, std::string caption, Geometry g, int tab, int value)
        : Control(std::move(name), g, tab), caption_(std::move(caption)), value_(value) {}
    const std::string& Caption() const { return caption_; }
    const std::string& shownText() const override { return caption_; }
    // 0 unchecked, 1 checked, 2 greyed.
    int Value() const { return value_; }
    // Throws Error(InvalidPropertyValue) for anything but 0, 1, 2; raises Click on a change.
    void Value(int value);
    // A user's click: unchecked becomes checked, anything else unchecked.
    void click() { Value(value_ == 0 ? 1 : 0); }

    std::function<void()> Click;

private:
    std::string caption_;
    int value_;
};

// One member of an option group; selecting one deselects the others.
class OptionButton : public Control {
public:
    OptionButton(std::string name, int index, std::string caption, Geometry g, int tab)
        : Control(std::move(name), g, tab), index_(index), caption_(std::move(caption)) {}
    int Index() const { return index_; }
    const std::string& Caption() const { return caption_; }
    const std::string& shownText() const override { return caption_; }
    bool Value() const { return value_; }
    // Selecting raises Click with the index when the button was not selected; deselecting
    // from code raises nothing.
    void Value(bool selected);

    std::function<void(int index)> Click;
    std::vector<OptionButton*> group;

private:
    void set(bool value);

    int index_;
    std::string caption_;
    bool value_ = false;
};

class CommandButton : public Control {
public:
    CommandButton(std::string name, std::string caption, Geometry g, int tab)
        : Control(std::move(name), g, tab), caption_(std::move(caption)) {}
    const std::string& Caption() const { return caption_; }
    const std::string& shownText() const override { return caption_; }
    void click() {
        if (Click) Click();
    }
    std::function<void()> Click;

private:
    std::string caption_;
};

struct LineShape {
    std::string name;
    int x1, y1, x2, y2;
};

// A non-visual timer: the event loop ticks it every Interval ms while it is enabled; whoever
// drives it hears each change of Enabled.
class Timer {
public:
    Timer(std::string name, int intervalMs, bool enabled)
        : name_(std::move(name)), interval_(intervalMs), enabled_(enabled) {}
    const std::string& name() const { return name_; }
    int Interval() const { return interval_; }
    bool Enabled() const { return enabled_; }
    void Enabled(bool enabled);
    void tick() {
        if (enabled_ && Tick) Tick();
    }

    std::function<void()> Tick;
    std::function<void()> EnabledChanged;

private:
    std::string name_;
    int interval_;
    bool enabled_;
};

}  // namespace tidewell
