#pragma once
#include <gtest/gtest.h>

#include <memory>

#include "app/failure_boxes.h"
#include "app/orvane_set_time.h"
#include "fakes.h"

namespace tidewell {

using Strings = std::vector<std::string>;

// What the program's events say, one line per event the tests look at.
struct RecordingView : ProgramEvents {
    Strings lines;
    void add(std::string line) { lines.push_back(std::move(line)); }
    void clockRefused(const Error& e, DateValue) override { add(e.description()); }
    void frameSent(Output o, const std::string&) override {
        add(o == Output::Serial ? "sent serial" : "sent udp");
    }
    void settingReadAs(std::string_view, std::string_view key, const std::string&,
                       const std::string& how) override {
        add(std::string(key) + " " + how);
    }
    void eventLine(const std::string& text) override { add(text); }
    void otherTimeService(const std::string& name, const std::string&) override {
        add("time service: " + name);
    }
    void settingsNotSaved(const std::string&, const std::string& why) override {
        add("not saved: " + why);
    }
    void refclockFailed(const Error& e) override { add("refclock: " + e.description()); }
    void refclockResumed(const std::string& path) override { add("refclock resumed: " + path); }
};

// A window over fakes; `stored` seeds the settings before start-up.
struct WindowTest : ::testing::Test {
    fakes::FakeShell shell;
    fakes::FakeProfileStore profile;
    ProfileStore* store = &profile;
    std::string file = "/opt/tidewell/Tidewell.ini";
    fakes::FakeAutoRun autoRun;
    fakes::FakeClock clock;
    fakes::FakeNmeaReceiver nmea;
    fakes::FakeSerialPort serial;
    fakes::FakeUdpSocket udp;
    fakes::FakeRefclockSocket refclock;
    RecordingView view;
    FailureBoxes boxes{shell};
    ProgramEventHub events;  // the view, then the boxes, as on a desktop
    std::unique_ptr<OrvaneSetTime> window;

    WindowTest() { events.add(view), events.add(boxes); }

    OrvaneSetTime::Platform platform() {
        return {shell, *store, autoRun, clock, "/opt/tidewell/tidewell"};
    }
    OrvaneSetTime::Components components() { return {nmea, serial, udp, &refclock}; }
    OrvaneSetTime& load() {
        window = std::make_unique<OrvaneSetTime>(platform(), components(), events, file);
        window->Form_Load();
        return *window;
    }
    void stored(std::string_view section, std::string_view key, std::string_view value) {
        profile.set(section, key, value);
    }
    // Each "Section/Key=value".
    void stored(std::initializer_list<std::string_view> entries) {
        for (std::string_view e : entries)
            profile.set(e.substr(0, e.find('/')),
                        e.substr(e.find('/') + 1, e.find('=') - e.find('/') - 1),
                        e.substr(e.find('=') + 1));
    }
    // Start-up over the stored `entries` and these, then forget what it wrote and did, to look
    // at the handlers alone.
    OrvaneSetTime& start(std::initializer_list<std::string_view> entries = {}) {
        stored(entries);
        load();
        profile.writes.clear(), nmea.calls.clear(), serial.calls.clear();
        shell.boxes.clear(), view.lines.clear();
        return *window;
    }
};

}  // namespace tidewell
