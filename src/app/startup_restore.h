#pragma once
// Start-up's reading of the settings file into the controls. Start-up runs in skip-on-error
// mode: a step that fails is abandoned where it failed, and the next one runs. Each restore
// below is one key; a stored text that is not read as it stands is told, the step failing or
// going on exactly as it would.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/controls.h"
#include "broadcast/scheduler.h"

namespace tidewell {

class StartupRestore {
public:
    using Setting = std::function<std::string(std::string_view section, std::string_view key)>;
    using Save = std::function<void(std::string_view section, std::string_view key,
                                    std::string_view value)>;
    using ReadAs = std::function<void(std::string_view section, std::string_view key,
                                      const std::string& text, const std::string& how)>;
    using Conversion = std::int16_t (*)(std::string_view);

    StartupRestore(Setting setting, Save save, ReadAs readAs)
        : setting_(std::move(setting)), save_(std::move(save)), readAs_(std::move(readAs)) {}

    // One step: an Error ends it, and start-up goes on.
    static void step(const std::function<void()>& body);

    // The check box's value from its key by `convert`; the box's click runs on a change.
    void check(CheckBox& box, std::string_view section, std::string_view key,
               Conversion convert) const;
    // The option selected when its key reads true (True/False or a number).
    void option(OptionButton& option, std::string_view section, std::string_view key) const;
    // The list's text from its key, "once per minute" stored when missing; then the rate code
    // it names. A text outside the list leaves the code as it was.
    void rate(ComboBox& list, RateCode& code, std::string_view section, std::string_view key) const;
    // Tells that a port list's text is not one of its items and which port it stands for.
    void outsidePorts(std::string_view section, const std::string& text, int port) const;

private:
    Setting setting_;
    Save save_;
    ReadAs readAs_;
};

// The port lists' items and the rate lists' items, as the window shows them.
namespace window_text {
inline constexpr const char* kNone = "None";
extern const std::vector<std::string> kRates;
extern const std::vector<std::string> kPorts;
// "None" -> 0, "COM1".."COM8" -> 1..8 (exact, case-sensitive); empty otherwise.
std::optional<int> portNumberOf(std::string_view text);
// "once per second" -> 0 ... "once per day" -> 3 (exact); empty otherwise.
RateCode rateCodeOf(std::string_view text);
// A check state as stored with a blank in the sign position: " 0", " 1", "-1".
std::string leadingBlank(int value);
}  // namespace window_text

}  // namespace tidewell
