#include "app/startup_restore.h"

#include "platform/error.h"
#include "settings/conversions.h"

namespace tidewell {

namespace window_text {

const std::vector<std::string> kRates{"once per second", "once per minute", "once per hour",
                                      "once per day"};
const std::vector<std::string> kPorts{"None", "COM1", "COM2", "COM3", "COM4",
                                      "COM5", "COM6", "COM7", "COM8"};

std::optional<int> portNumberOf(std::string_view text) {
    for (std::size_t i = 0; i < kPorts.size(); ++i)
        if (text == kPorts[i]) return int(i);
    return std::nullopt;
}

RateCode rateCodeOf(std::string_view text) {
    for (std::size_t i = 0; i < kRates.size(); ++i)
        if (text == kRates[i]) return int(i);
    return std::nullopt;
}

std::string leadingBlank(int value) {
    return value < 0 ? std::to_string(value) : " " + std::to_string(value);
}

}  // namespace window_text

namespace {

using namespace window_text;

// "None, COM1..COM8" (as a range) or every item: the list a stored text was not found in.
std::string listText(const std::vector<std::string>& items, bool asRange) {
    std::string text = items.front();
    if (asRange) return text + ", " + items[1] + ".." + items.back();
    for (std::size_t i = 1; i < items.size(); ++i) text += ", " + items[i];
    return text;
}

}  // namespace

void StartupRestore::step(const std::function<void()>& body) {
    try {
        body();
    } catch (const Error&) {
        // Start-up reports nothing: a failed step is abandoned where it failed.
    }
}

void StartupRestore::check(CheckBox& box, std::string_view section, std::string_view key,
                           Conversion convert) const {
    step([&] {
        const std::string text = setting_(section, key);
        const auto unusable = [&](const Error& e) {
            readAs_(section, key, text,
                    "cannot be used (" + e.description() + "); left at " +
                        std::to_string(box.Value()));
        };
        int value = 0;
        try {
            value = convert(text);
        } catch (const Error& e) {
            if (!text.empty()) unusable(e);
            throw;
        }
        try {
            box.Value(value);
        } catch (const Error& e) {
            if (box.Value() != value) unusable(e);  // refused, not failed in its handler
            throw;
        }
        if (!text.empty() && !isStrictNumber(text))
            readAs_(section, key, text, "is read as " + std::to_string(value));
    });
}

void StartupRestore::option(OptionButton& option, std::string_view section,
                            std::string_view key) const {
    step([&] {
        const std::string text = setting_(section, key);
        bool selected = false;
        try {
            selected = toBoolean(text);
        } catch (const Error& e) {
            if (!text.empty())
                readAs_(section, key, text,
                        "cannot be used (" + e.description() + "); left " +
                            (option.Value() ? "selected" : "not selected"));
            throw;
        }
        option.Value(selected);
    });
}

void StartupRestore::rate(ComboBox& list, RateCode& code, std::string_view section,
                          std::string_view key) const {
    step([&] {
        list.Text(setting_(section, key));
        if (list.Text().empty()) {
            list.Text(kRates[1]);
            save_(section, key, list.Text());
        }
    });
    step([&] {
        if (auto c = rateCodeOf(list.Text())) {
            code = c;
        } else {
            // An unset code sends every second.
            readAs_(section, key, list.Text(),
                    "is not one of " + listText(kRates, false) + "; read as " +
                        kRates[std::size_t(code.value_or(0))]);
        }
    });
}

void StartupRestore::outsidePorts(std::string_view section, const std::string& text,
                                  int port) const {
    readAs_(section, "COMPORT", text,
            "is not one of " + listText(kPorts, true) + "; read as COM" + std::to_string(port));
}

}  // namespace tidewell
