#pragma once
// On a desktop, the failures the window shows no box of its own for open one box each per run:
// the clock refused, settings that cannot be saved, another program that keeps the clock.
// Headless, their report lines say it all.
#include <string>

#include "app/program_events.h"
#include "platform/shell.h"

namespace tidewell {

class FailureBoxes : public ProgramEvents {
public:
    explicit FailureBoxes(Shell& shell) : shell_(shell) {}

    void clockRefused(const Error& e, DateValue local) override;
    void settingsNotSaved(const std::string& file, const std::string& reason) override;
    // Another program sets the clock too: `settingsFile` is where to turn Tidewell's off.
    void otherTimeService(const std::string& service, const std::string& settingsFile) override;

private:
    void once(bool& shown, const std::string& text);

    Shell& shell_;
    bool clockShown_ = false, settingsShown_ = false, serviceShown_ = false;
};

}  // namespace tidewell
