#include "app/controls.h"

#include <algorithm>

#include "platform/error.h"

namespace tidewell {

void Control::Visible(bool visible) {
    if (visible_ == visible) return;
    visible_ = visible;
    notifyView();
}

void Label::Caption(std::string caption) {
    if (caption_ == caption) return;
    caption_ = std::move(caption);
    notifyView();
}

void TextBox::Text(std::string text) {
    if (text_ == text) return;
    text_ = std::move(text);
    notifyView();
    if (Change) Change();
}

void ComboBox::Text(std::string text) {
    auto it = std::find(items_.begin(), items_.end(), text);
    int index = it == items_.end() ? -1 : int(it - items_.begin());
    if (text_ == text && listIndex_ == index) return;
    text_ = std::move(text);
    listIndex_ = index;
    notifyView();
}

void ComboBox::AddItem(std::string item) {
    items_.push_back(std::move(item));
    if (listIndex_ < 0 && items_.back() == text_) listIndex_ = int(items_.size()) - 1;
    notifyView();
}

void ComboBox::Clear() {
    items_.clear();
    listIndex_ = -1;
    notifyView();
}

void ComboBox::choose(int index) {
    if (index < 0 || index >= int(items_.size())) return;
    text_ = items_[std::size_t(index)];
    listIndex_ = index;
    notifyView();
    if (Click) Click();
}

void CheckBox::Value(int value) {
    if (value < 0 || value > 2) throw Error(errors::InvalidPropertyValue, "Invalid property value");
    if (value_ == value) return;
    value_ = value;
    notifyView();
    if (Click) Click();
}

void OptionButton::set(bool value) {
    if (value_ == value) return;
    value_ = value;
    notifyView();
}

void OptionButton::Value(bool selected) {
    if (!selected) {
        set(false);
        return;
    }
    if (value_) return;
    for (OptionButton* other : group)
        if (other != this) other->set(false);
    set(true);
    if (Click) Click(index_);
}

void Timer::Enabled(bool enabled) {
    if (enabled_ == enabled) return;
    enabled_ = enabled;
    if (EnabledChanged) EnabledChanged();
}

}  // namespace tidewell
