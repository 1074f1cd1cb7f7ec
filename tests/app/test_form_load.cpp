#include <map>

#include "platform/paths.h"
#include "window_fixture.h"

namespace tidewell {
namespace {

TEST_F(WindowTest, FirstRunHidesTheWindowInTheTrayAndOpensNothing) {
    OrvaneSetTime& w = load();
    EXPECT_EQ(nmea.calls, Strings{"ClosePort"});
    EXPECT_TRUE(serial.calls.empty() && autoRun.calls.empty() && shell.boxes.empty());
    EXPECT_EQ(udp.RemotePort, 16000);
    EXPECT_FALSE(w.Visible() || w.Timer1.Enabled() || shell.windowShown || shell.inTaskbar);
    EXPECT_EQ(shell.trayCalls, Strings{"add Set PC Time from GPS"});
    EXPECT_FALSE(w.UDPaddress.Visible() || w.UDPrate.Visible() || w.SerialRate.Visible() ||
                 w.Combo2.Visible());
}

// What start-up made of each stored key: the state of the controls and components it feeds.
std::map<std::string, std::string> restoredState(const WindowTest& t, const OrvaneSetTime& w) {
    auto code = [](const RateCode& c) { return c ? std::to_string(*c) : "unset"; };
    auto port = [](const std::string& text, int number, bool open) {
        return text + " port " + std::to_string(number) + (open ? " open" : "");
    };
    const std::string sync = w.SyncUsesUTC ? (*w.SyncUsesUTC ? "utc" : "local") : "unset";
    const std::string options = std::string(w.Option1[0].Value() ? "UTC" : "-") +
                                (w.Option1[1].Value() ? "LOCAL" : "-") + " " + sync;
    const auto delay = w.extended().preciseDelay;
    const std::string precise =
        delay ? "+" + std::to_string(delay->count()) + " ms" : std::string("whole seconds");
    return {
        {"GPS/COMPORT", port(w.Combo1.Text(), t.nmea.PortNumber, t.nmea.open)},
        {"SerialSync/COMPORT", port(w.Combo2.Text(), t.serial.CommPort, t.serial.open)},
        {"Analog/BatterySave", std::to_string(w.Check4.Value())},
        {"SerialSync/SendSync", std::to_string(w.Check2.Value())},
        {"GPS/GPSdate", std::to_string(w.Check3.Value())},
        {"UDP/UDPaddress", w.UDPaddress.Text() + " to " + t.udp.RemoteHost},
        {"SerialSync/serialrate", w.SerialRate.Text() + " code " + code(w.SerialRateCode)},
        {"SerialSync/TimeUTC", options},
        {"GPS/PRECISE", precise},
        {"GPS/DELAYMS", precise},
        {"GPS/SETCLOCK", w.extended().setsClock ? "sets" : "never"},
        {"Log/LEVEL", w.extended().logLevel == LogLevel::Events ? "events" : "seconds"},
        {"GPS/REFCLOCK", w.refclock().on() ? w.refclock().path() : "off"},
    };
}

// One stored value (or none), the state it restores, and what a view is told when it is not
// read as it stands: each kind of conversion once.
TEST_F(WindowTest, EachStoredValueGivesItsState) {
    const std::string notAPort = "COMPORT is not one of None, COM1..COM8; read as COM1";
    const std::string syncOn = "SerialSync/SendSync= 1", precise = "GPS/PRECISE=1";
    const struct {
        std::string entry;  // "Section/Key=value"; without "=value" when missing
        std::string state, readAs = "", also = "";
    } rows[] = {
        // clang-format off
        {"GPS/COMPORT=com3", "com3 port 1 open", notAPort},  // lists compare case-sensitively
        {"Analog/BatterySave=1x", "0", "BatterySave cannot be used (Type mismatch); left at 0"},
        {"Analog/BatterySave=5", "0", "BatterySave cannot be used (Invalid property value); left at 0"},
        {"SerialSync/SendSync=1 and more", "1", "SendSync is read as 1"},
        {"SerialSync/SendSync=99999", "0", "SendSync cannot be used (Overflow); left at 0"},
        {"SerialSync/COMPORT", "COM1 port 1 open", "", syncOn},
        {"SerialSync/COMPORT=None", "None port 1", "", syncOn},
        {"SerialSync/COMPORT=COM12", "COM12 port 1 open", notAPort, syncOn},  // keeps the number
        {"GPS/GPSdate=1.5", "2"},  // halves to even
        {"UDP/UDPaddress=", std::string(kDefaultUdpAddress) + " to " + kDefaultUdpAddress},
        {"SerialSync/serialrate=hourly", "hourly code unset", "serialrate is not one of once per "
            "second, once per minute, once per hour, once per day; read as once per second"},
        {"SerialSync/TimeUTC=-1", "UTC- utc"},
        {"GPS/PRECISE", "whole seconds"},
        {"GPS/PRECISE=1 please", "+0 ms", "PRECISE is read as 1"},
        {"GPS/PRECISE=5", "whole seconds", "PRECISE is not 0 or 1; left at 0"},
        {"GPS/SETCLOCK=-1", "sets", "SETCLOCK is not 0 or 1; left at 1"},
        {"GPS/DELAYMS=152ms", "+152 ms", "DELAYMS is read as 152", precise},
        {"GPS/DELAYMS=1500", "+0 ms", "DELAYMS is not 0 to 999; read as 0", precise},
        {"Log/LEVEL=Events", "events"},
        {"Log/LEVEL=quiet", "seconds", "LEVEL is not events or seconds; read as seconds"},
        {"GPS/REFCLOCK=sock:/run/chrony.tidewell.sock", "/run/chrony.tidewell.sock"},
        {"GPS/REFCLOCK=SOCK:chrony.sock", "off", "REFCLOCK is not SOCK: and a socket's full path "
            "(at most 107 bytes); the clock is set as before"},
        // clang-format on
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.entry);
        profile.values.clear(), view.lines.clear();
        nmea = {}, serial = {};
        for (const std::string& e : {r.entry, r.also})
            if (e.find('=') != std::string::npos) stored({e});
        const OrvaneSetTime& w = load();
        EXPECT_EQ(restoredState(*this, w).at(r.entry.substr(0, r.entry.find('='))), r.state);
        EXPECT_EQ(view.lines, r.readAs.empty() ? Strings{} : Strings{r.readAs});
        EXPECT_TRUE(shell.boxes.empty()) << "start-up reports nothing";
    }
}

// Every click start-up raises stores its key again; ports that fail to open stay closed
// silently; UTC and LOCAL both stored true end with UTC alone.
TEST_F(WindowTest, AStartUpWithEverythingOnStoresItsKeysAgain) {
    stored({"SerialSync/SendSync=1", "UDP/SendUDP=1", "Analog/BatterySave=1", "GPS/AutoStart=1",
            "GPS/GPSdate=1", "GPS/COMPORT=COM4", "SerialSync/TimeUTC=True",
            "SerialSync/TimeLocal=True"});
    nmea.failOpen = serial.failOpen = true;
    OrvaneSetTime& w = load();
    EXPECT_TRUE(w.SerialRate.Visible() && w.Combo2.Visible() && w.UDPrate.Visible());
    EXPECT_FALSE(w.UDPaddress.Visible() || nmea.isOpen() || serial.PortOpen());
    EXPECT_TRUE(shell.boxes.empty());
    for (auto [section, key] : {std::pair{"SerialSync", "SendSync"},
                                {"UDP", "SendUDP"},
                                {"Analog", "BatterySave"},
                                {"GPS", "AutoStart"}})
        EXPECT_EQ(profile.get(section, key), " 1") << key << " is stored again, with its blank";
    EXPECT_EQ(profile.get("GPS", "GPSdate"), "1") << "Check3 starts checked: no change, no write";
    EXPECT_EQ(autoRun.values.at("Run\\Tidewell"),
              paths::join("/opt/tidewell", "tidewell") + std::string(paths::executableSuffix));
    EXPECT_EQ(profile.get("SerialSync", "TimeLocal"), "False");
    EXPECT_TRUE(w.SyncUsesUTC == true && w.UDPRateCode == 1) << "steps after a failed one run";
}

}  // namespace
}  // namespace tidewell
