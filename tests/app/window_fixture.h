#pragma once
#include <gtest/gtest.h>

#include <memory>

#include "app/orvane_set_time.h"
#include "fakes.h"

namespace tidewell {

// What a view hears, one line per event, as a headless view would print it.
struct RecordingView : WindowView {
    std::vector<std::string> lines;
    void gpsTimeShown(const std::string& g, const std::string& l) override {
        lines.push_back(g + " | " + l);
    }
    void sentenceFailed(const Error& e) override { lines.push_back("failed: " + e.description()); }
    void clockSet(const ClockUpdate::Outcome& o, DateValue) override {
        lines.push_back(o.dateSet ? "set date and time" : "set time");
    }
    void clockRefused(const Error& e, DateValue) override {
        lines.push_back("refused: " + e.description());
    }
    void frameSent(Output o, const std::string&) override {
        lines.push_back(o == Output::Serial ? "sent serial" : "sent udp");
    }
    void frameFailed(Output o, const Error& e) override {
        lines.push_back((o == Output::Serial ? "serial " : "udp ") + std::to_string(e.number()));
    }
    void settingReadAs(std::string_view, std::string_view key, const std::string&,
                       const std::string& how) override {
        lines.push_back(std::string(key) + " " + how);
    }
    void eventLine(const std::string& text) override { lines.push_back(text); }
};

// A window over fakes; `stored` seeds the settings before start-up.
struct WindowTest : ::testing::Test {
    fakes::FakeShell shell;
    fakes::FakeProfileStore profile;
    fakes::FakeAutoRun autoRun;
    fakes::FakeClock clock;
    fakes::FakeNmeaReceiver nmea;
    fakes::FakeSerialPort serial;
    fakes::FakeUdpSocket udp;
    RecordingView view;
    std::unique_ptr<OrvaneSetTime> window;

    OrvaneSetTime::Platform platform() { return {shell, profile, autoRun, clock}; }
    OrvaneSetTime::Components components() { return {nmea, serial, udp}; }
    OrvaneSetTime& load() {
        window =
            std::make_unique<OrvaneSetTime>(platform(), components(), "/opt/tidewell/Tidewell.ini");
        window->addView(view);
        window->Form_Load();
        return *window;
    }
    void stored(std::string_view section, std::string_view key, std::string_view value) {
        profile.set(section, key, value);
    }
    // Forget what start-up wrote and did, to look at one handler alone.
    void clearRecords() {
        profile.writes.clear();
        nmea.calls.clear();
        serial.calls.clear();
        shell.boxes.clear();
        shell.trayCalls.clear();
        autoRun.calls.clear();
        view.lines.clear();
    }
};

}  // namespace tidewell
