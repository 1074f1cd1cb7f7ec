#include "app/failure_boxes.h"

#include <utility>

namespace tidewell {

void FailureBoxes::once(bool& shown, const std::string& text) {
    if (std::exchange(shown, true)) return;
    shell_.messageBox(text, "Tidewell", MsgBoxIcon::Exclamation, MsgBoxButtons::Ok);
}

void FailureBoxes::clockRefused(const Error& e, DateValue) {
    once(clockShown_, "The PC clock could not be set: " + e.description());
}

void FailureBoxes::settingsNotSaved(const std::string& file, const std::string& reason) {
    once(settingsShown_, "Settings cannot be saved to " + file + ": " + reason +
                             ". Changes last until the program ends.");
}

void FailureBoxes::otherTimeService(const std::string& service, const std::string& settingsFile) {
    once(serviceShown_,
         service + " also sets this PC's clock. Each minute Tidewell sets it from the GPS and " +
             service + " moves it back, so the clock never settles.\n\nTurn " + service +
             " off, or let Tidewell only show the GPS time and feed the wall clocks: set "
             "SETCLOCK=0 in section [GPS] of " +
             settingsFile + ".");
}

}  // namespace tidewell
