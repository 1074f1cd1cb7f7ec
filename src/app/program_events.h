#pragma once
// What happens in the running program, for whoever tells it: the event report, the status,
// the metrics. Every event has a do-nothing default, so a listener takes only what it needs.
// Message boxes go through the shell, not here.
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "devices/refclock_socket.h"
#include "devices/nmea_sentence.h"
#include "devices/reception_tally.h"
#include "gps/clock_update.h"
#include "platform/error.h"

namespace tidewell {

class OrvaneSetTime;

enum class Output { Serial, Udp };
enum class PortRole { Gps, SerialSync };
enum class PortChange { Opened, Closed, Lost, Refused };
// How the PC clock is kept: set in whole seconds with the receive advance, set to the
// millisecond with the receiver's delay, never set, or each sample handed to chrony.
enum class ClockMode { WholeSecond, Precise, Never, Chrony };

class ProgramEvents {
public:
    virtual ~ProgramEvents() = default;

    virtual void gpsTimeShown(const std::string& /*gpsText*/, const std::string& /*localText*/) {}
    virtual void sentenceFailed(const Error&) {}
    virtual void clockSet(const ClockUpdate::Outcome&, DateValue /*local*/) {}
    // The clock's refusal is a ClockUpdate::Refused, which carries what was to be set.
    virtual void clockRefused(const Error&, DateValue /*local*/) {}
    virtual void frameSent(Output, const std::string& /*frame*/) {}
    virtual void frameFailed(Output, const Error&) {}
    // Whether each sync output is switched on; told at start-up and at every change.
    virtual void outputsSwitched(bool /*serialOn*/, bool /*udpOn*/) {}
    // Start-up read a stored text in a way the text does not show (outside its list, or not
    // usable as it stands): `how` says what became of it.
    virtual void settingReadAs(std::string_view /*section*/, std::string_view /*key*/,
                               const std::string& /*text*/, const std::string& /*how*/) {}
    // A setting could not be saved to the settings file; it lasts until the program ends.
    virtual void settingsNotSaved(const std::string& /*file*/, const std::string& /*reason*/) {}
    // Start-up has run; the ports' devices as the port map names them (empty: none).
    virtual void loaded(const OrvaneSetTime&, const std::string& /*gpsDevice*/,
                        const std::string& /*serialDevice*/) {}
    // Another program sets the clock too, so the two would take turns; told once a run.
    virtual void otherTimeService(const std::string& /*service*/,
                                  const std::string& /*settingsFile*/) {}
    // Any other event worth a line of its own (a port opened or refused, stopping).
    virtual void eventLine(const std::string& /*text*/) {}
    // With [GPS] REFCLOCK: a sample went to chrony's socket; the socket could not be reached
    // or refused a sample (raised when the reason is new; samples stop until it is reached);
    // it is reached again and samples go on.
    virtual void refclockSample(const RefclockSample&) {}
    virtual void refclockFailed(const Error&) {}
    virtual void refclockResumed(const std::string& /*path*/) {}

    // A port opened, closed, went away (unplugged), or could not be opened for `reason`;
    // `label` names it with its device, "COM1 (/dev/ttyUSB0)".
    virtual void portChanged(PortRole, PortChange, const std::string& /*label*/,
                             const std::string& /*reason*/) {}
    // The GPS line's speed at each opening, and when BAUD=auto has found it.
    virtual void lineSpeed(int /*baud*/, bool /*automatic*/, bool /*found*/) {}
    // Each sentence the receiver delivers, before the window handles it.
    virtual void sentenceReceived(const NmeaSentence&) {}
    // What the GPS port brought since the last tally: every second while it is open, and
    // once as it closes.
    virtual void receptionTallied(const ReceptionTally&) {}
    // How start-up will keep the clock; `delay` is precise setting's DELAYMS.
    virtual void clockMode(ClockMode, std::chrono::milliseconds /*delay*/) {}
    // The main loop's priority as the system granted it, in words.
    virtual void loopPriority(const std::string& /*text*/, bool /*realTime*/) {}
    // A setting was saved to the settings file.
    virtual void settingSaved(const std::string& /*file*/) {}
};

// Passes every event on to each listener, in the order they were added.
class ProgramEventHub : public ProgramEvents {
public:
    void add(ProgramEvents& listener) { listeners_.push_back(&listener); }

    void gpsTimeShown(const std::string& gps, const std::string& local) override {
        each(&ProgramEvents::gpsTimeShown, gps, local);
    }
    void sentenceFailed(const Error& e) override { each(&ProgramEvents::sentenceFailed, e); }
    void clockSet(const ClockUpdate::Outcome& o, DateValue local) override {
        each(&ProgramEvents::clockSet, o, local);
    }
    void clockRefused(const Error& e, DateValue local) override {
        each(&ProgramEvents::clockRefused, e, local);
    }
    void frameSent(Output o, const std::string& frame) override {
        each(&ProgramEvents::frameSent, o, frame);
    }
    void frameFailed(Output o, const Error& e) override { each(&ProgramEvents::frameFailed, o, e); }
    void outputsSwitched(bool serial, bool udp) override {
        each(&ProgramEvents::outputsSwitched, serial, udp);
    }
    void settingReadAs(std::string_view section, std::string_view key, const std::string& text,
                       const std::string& how) override {
        each(&ProgramEvents::settingReadAs, section, key, text, how);
    }
    void settingsNotSaved(const std::string& file, const std::string& reason) override {
        each(&ProgramEvents::settingsNotSaved, file, reason);
    }
    void loaded(const OrvaneSetTime& w, const std::string& gps, const std::string& serial) override {
        each(&ProgramEvents::loaded, w, gps, serial);
    }
    void otherTimeService(const std::string& service, const std::string& file) override {
        each(&ProgramEvents::otherTimeService, service, file);
    }
    void eventLine(const std::string& text) override { each(&ProgramEvents::eventLine, text); }
    void refclockSample(const RefclockSample& s) override {
        each(&ProgramEvents::refclockSample, s);
    }
    void refclockFailed(const Error& e) override { each(&ProgramEvents::refclockFailed, e); }
    void refclockResumed(const std::string& path) override {
        each(&ProgramEvents::refclockResumed, path);
    }
    void portChanged(PortRole role, PortChange change, const std::string& label,
                     const std::string& reason) override {
        each(&ProgramEvents::portChanged, role, change, label, reason);
    }
    void lineSpeed(int baud, bool automatic, bool found) override {
        each(&ProgramEvents::lineSpeed, baud, automatic, found);
    }
    void sentenceReceived(const NmeaSentence& s) override {
        each(&ProgramEvents::sentenceReceived, s);
    }
    void receptionTallied(const ReceptionTally& t) override {
        each(&ProgramEvents::receptionTallied, t);
    }
    void clockMode(ClockMode mode, std::chrono::milliseconds delay) override {
        each(&ProgramEvents::clockMode, mode, delay);
    }
    void loopPriority(const std::string& text, bool realTime) override {
        each(&ProgramEvents::loopPriority, text, realTime);
    }
    void settingSaved(const std::string& file) override { each(&ProgramEvents::settingSaved, file); }

private:
    template <class... Params, class... Args>
    void each(void (ProgramEvents::*event)(Params...), Args&&... args) {
        for (ProgramEvents* l : listeners_) (l->*event)(args...);
    }

    std::vector<ProgramEvents*> listeners_;
};

}  // namespace tidewell
