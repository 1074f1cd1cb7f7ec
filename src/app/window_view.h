#pragma once
// What a view of the window hears from the model: control and timer changes to mirror, and
// the events a view that reports rather than draws (headless output) writes down. Message
// boxes go through the shell.
#include <string>
#include <string_view>

#include "app/controls.h"
#include "gps/clock_update.h"
#include "platform/error.h"

namespace tidewell {

class OrvaneSetTime;

class WindowView {
public:
    enum class Output { Serial, Udp };
    virtual ~WindowView() = default;

    virtual void controlChanged(const Control&) {}
    virtual void timerChanged(const Timer&) {}

    virtual void gpsTimeShown(const std::string& /*gpsText*/, const std::string& /*localText*/) {}
    virtual void sentenceFailed(const Error&) {}
    virtual void clockSet(const ClockUpdate::Outcome&, DateValue /*local*/) {}
    virtual void clockRefused(const Error&, DateValue /*local*/) {}
    virtual void frameSent(Output, const std::string& /*frame*/) {}
    virtual void frameFailed(Output, const Error&) {}
    // Start-up read a stored text in a way the text does not show (outside its list, or not
    // usable as it stands): `how` says what became of it.
    virtual void settingReadAs(std::string_view /*section*/, std::string_view /*key*/,
                               const std::string& /*text*/, const std::string& /*how*/) {}
    // Start-up has run; the ports' devices as the port map names them (empty: none).
    virtual void loaded(const OrvaneSetTime&, const std::string& /*gpsDevice*/,
                        const std::string& /*serialDevice*/) {}
    // A setting could not be saved to the settings file; it lasts until the program ends.
    virtual void settingsNotSaved(const std::string& /*file*/, const std::string& /*reason*/) {}
    // A program event worth a line where there is no window (port opened again, stopping).
    virtual void eventLine(const std::string& /*text*/) {}
};

}  // namespace tidewell
