#pragma once
#include <gtest/gtest.h>

#include <memory>

#include "app/orvane_set_time.h"
#include "fakes.h"

namespace tidewell {

// A window over fakes; `stored` seeds the settings before start-up.
struct WindowTest : ::testing::Test {
    fakes::FakeShell shell;
    fakes::FakeProfileStore profile;
    fakes::FakeAutoRun registry;
    fakes::FakeClock clock;
    fakes::FakeNmeaReceiver nmea;
    fakes::FakeSerialPort serial;
    fakes::FakeUdpSocket udp;
    std::unique_ptr<OrvaneSetTime> window;

    OrvaneSetTime& make() {
        window = std::make_unique<OrvaneSetTime>(
            OrvaneSetTime::Platform{shell, profile, registry, clock},
            OrvaneSetTime::Components{nmea, serial, udp}, "/opt/tidewell/Tidewell.ini");
        return *window;
    }
    OrvaneSetTime& load() {
        make().Form_Load();
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
        registry.calls.clear();
    }
};

}  // namespace tidewell
