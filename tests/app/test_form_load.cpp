#include <map>
#include <optional>

#include "window_fixture.h"

namespace tidewell {
namespace {

using Writes = std::vector<std::string>;

TEST_F(WindowTest, FirstRunWithoutSettingsEndsInTheDefaultState) {
    OrvaneSetTime& w = load();

    // Each key's own default is a row of EachStoredValueGivesItsState; here the whole run.
    EXPECT_EQ(nmea.calls, (std::vector<std::string>{"ClosePort"})) << "no GPS port is opened";
    EXPECT_TRUE(serial.calls.empty()) << "serial sync is off, so its port stays closed";
    for (CheckBox* box : {&w.Check1, &w.Check2, &w.Check3, &w.Check4, &w.AutoStart})
        EXPECT_EQ(box->Value(), 0) << box->name();

    // The address is written empty first (its change handler), then restored twice.
    const std::string address = std::string("UDP/UDPADDRESS=") + kDefaultUdpAddress;
    EXPECT_EQ(profile.writes,
              (Writes{"UDP/UDPADDRESS=", "GPS/GPSDATE=0", address, address,
                      "UDP/UDPRATE=once per minute", "SerialSync/SERIALRATE=once per minute"}));
    EXPECT_EQ(udp.RemoteHost, kDefaultUdpAddress);
    EXPECT_EQ(udp.Protocol, UdpSocket::UdpProtocol);
    EXPECT_EQ(udp.RemotePort, 16000);
    EXPECT_EQ(udp.LocalPort, 16000);
    EXPECT_TRUE(autoRun.calls.empty()) << "auto-run off at start-up touches nothing";
    EXPECT_TRUE(shell.boxes.empty()) << "start-up reports nothing";
}

TEST_F(WindowTest, StartUpHidesTheWindowAndShowsOnlyWhatBelongs) {
    OrvaneSetTime& w = load();

    EXPECT_FALSE(w.Visible());
    EXPECT_TRUE(w.SendUDP.Enabled());
    EXPECT_FALSE(w.Timer1.Enabled());
    EXPECT_FALSE(shell.windowShown || shell.inTaskbar);
    EXPECT_EQ(shell.trayCalls, std::vector<std::string>{"add Set PC Time from GPS"});
    EXPECT_EQ(shell.lastIcon.flags, notify::NIF_MESSAGE | notify::NIF_ICON | notify::NIF_TIP);
    EXPECT_EQ(shell.lastIcon.callbackMessage, notify::WM_MOUSEMOVE);
    EXPECT_EQ(w.Label2.Caption(), "Version 2.1.1");
    EXPECT_EQ(w.txtGPStime.Text(), "");
    EXPECT_EQ(w.txtLocalTime.Text(), "");
    EXPECT_EQ(w.txtPCtime.Text(), "Text1") << "kept until the display timer's first tick";

    for (Control* hidden : std::initializer_list<Control*>{
             &w.txtLocalTime, &w.UDPaddress, &w.Label4, &w.UDPrate, &w.Label9, &w.SerialRate,
             &w.Label11, &w.Combo2, &w.Label10})
        EXPECT_FALSE(hidden->Visible()) << hidden->name();
    for (Control* shown : std::initializer_list<Control*>{&w.txtGPStime, &w.Combo1, &w.Check3,
                                                          &w.txtPCtime, &w.Command1, &w.Label2})
        EXPECT_TRUE(shown->Visible()) << shown->name();
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
    return {
        {"GPS/COMPORT", port(w.Combo1.Text(), t.nmea.PortNumber, t.nmea.open)},
        {"SerialSync/COMPORT", port(w.Combo2.Text(), t.serial.CommPort, t.serial.open)},
        {"Analog/BatterySave", std::to_string(w.Check4.Value())},
        {"SerialSync/SendSync", std::to_string(w.Check2.Value())},
        {"UDP/SendUDP", std::to_string(w.Check1.Value())},
        {"GPS/AutoStart", std::to_string(w.AutoStart.Value())},
        {"GPS/GPSdate", std::to_string(w.Check3.Value())},
        {"UDP/UDPaddress", w.UDPaddress.Text() + " to " + t.udp.RemoteHost},
        {"UDP/UDPrate", w.UDPrate.Text() + " code " + code(w.UDPRateCode)},
        {"SerialSync/serialrate", w.SerialRate.Text() + " code " + code(w.SerialRateCode)},
        {"SerialSync/TimeUTC", options},
        {"SerialSync/TimeLocal", options},
    };
}

const std::string kNotAPort = "COMPORT is not one of None, COM1..COM8; read as COM1";
const std::string kNotARate = "is not one of once per second, once per minute, once per hour, "
                              "once per day; read as once per second";

// One stored value (or none), the state it restores, and what a view is told when it is not
// read as it stands.
TEST_F(WindowTest, EachStoredValueGivesItsState) {
    const std::optional<std::string> missing;
    const struct {
        const char* section;
        const char* key;
        std::optional<std::string> stored;
        std::string state, readAs = "";
    } rows[] = {
        // clang-format off
        {"GPS", "COMPORT", "COM3", "COM3 port 3 open"},
        {"GPS", "COMPORT", missing, "None port 0"},
        {"GPS", "COMPORT", "COM9", "COM9 port 1 open", kNotAPort},
        {"GPS", "COMPORT", "com3", "com3 port 1 open", kNotAPort},  // lists compare case-sensitively
        {"Analog", "BatterySave", " 1", "1"},
        {"Analog", "BatterySave", "1x", "0", "BatterySave cannot be used (Type mismatch); left at 0"},
        {"Analog", "BatterySave", "5", "0", "BatterySave cannot be used (Invalid property value); left at 0"},
        {"SerialSync", "SendSync", "1 and more", "1", "SendSync is read as 1"},
        {"SerialSync", "SendSync", "99999", "0", "SendSync cannot be used (Overflow); left at 0"},
        {"SerialSync", "COMPORT", missing, "COM1 port 1 open"},
        {"SerialSync", "COMPORT", "None", "None port 1"},
        {"SerialSync", "COMPORT", "COM12", "COM12 port 1 open", kNotAPort},  // keeps the number
        {"UDP", "SendUDP", "1abc", "1", "SendUDP is read as 1"},
        {"GPS", "AutoStart", "abc", "0", "AutoStart is read as 0"},
        {"GPS", "GPSdate", missing, "0"},
        {"GPS", "GPSdate", "1.5", "2"},  // halves to even
        {"UDP", "UDPaddress", "127.0.0.1", "127.0.0.1 to 127.0.0.1"},
        {"UDP", "UDPaddress", "", std::string(kDefaultUdpAddress) + " to " + kDefaultUdpAddress},
        {"UDP", "UDPrate", "once per day", "once per day code 3"},
        {"UDP", "UDPrate", "", "once per minute code 1"},
        {"UDP", "UDPrate", "Once per hour", "Once per hour code unset", "UDPrate " + kNotARate},
        {"SerialSync", "serialrate", "hourly", "hourly code unset", "serialrate " + kNotARate},
        {"SerialSync", "TimeUTC", "-1", "UTC- utc"},
        {"SerialSync", "TimeUTC", "yes", "-- unset", "TimeUTC cannot be used (Type mismatch); left not selected"},
        {"SerialSync", "TimeLocal", "True", "-LOCAL local"},
        // clang-format on
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.section) + "/" + r.key + "=" + r.stored.value_or("(missing)"));
        profile.values.clear();
        view.lines.clear();
        if (r.stored) stored(r.section, r.key, *r.stored);
        // Serial sync on, so the serial port rows show whether the port opens.
        if (std::string(r.section) == "SerialSync" && std::string(r.key) == "COMPORT")
            stored("SerialSync", "SendSync", " 1");
        nmea = {}, serial = {};
        const OrvaneSetTime& w = load();
        EXPECT_EQ(restoredState(*this, w).at(std::string(r.section) + "/" + r.key), r.state);
        const std::vector<std::string> told = view.lines;
        EXPECT_EQ(told, r.readAs.empty() ? std::vector<std::string>{}
                                         : std::vector<std::string>{r.readAs});
        EXPECT_TRUE(shell.boxes.empty()) << "start-up reports nothing";
    }
}

TEST_F(WindowTest, ClicksRaisedByStartUpStoreTheirKeys) {
    stored("SerialSync", "SendSync", "1");
    stored("UDP", "SendUDP", "1");
    stored("Analog", "BatterySave", "1");
    stored("GPS", "GPSdate", "1");
    stored("GPS", "AutoStart", "1");
    OrvaneSetTime& w = load();

    for (Control* shown : std::initializer_list<Control*>{&w.SerialRate, &w.Label11, &w.Combo2,
                                                          &w.Label10, &w.UDPrate, &w.Label9})
        EXPECT_TRUE(shown->Visible()) << shown->name();
    EXPECT_FALSE(w.UDPaddress.Visible());
    for (auto [section, key] : {std::pair{"SerialSync", "SendSync"},
                                {"UDP", "SendUDP"},
                                {"Analog", "BatterySave"},
                                {"GPS", "AutoStart"}})
        EXPECT_EQ(profile.get(section, key), " 1") << key << " is stored again, with its blank";
    for (const auto& write : profile.writes)
        EXPECT_NE(write.rfind("GPS/GPSDATE", 0), 0u)
            << "Check3 starts checked: no change, no write";
    // Auto-run on rewrites the entry with this executable's path at every start.
    EXPECT_EQ(autoRun.values.at("Run\\Tidewell"), AutoRunValue("/opt/tidewell/tidewell"));
}

TEST_F(WindowTest, PortsThatCannotOpenStayClosedSilently) {
    stored("GPS", "COMPORT", "COM4");
    stored("SerialSync", "SendSync", " 1");
    stored("SerialSync", "COMPORT", "COM2");
    nmea.failOpen = true;
    serial.failOpen = true;
    OrvaneSetTime& w = load();
    EXPECT_FALSE(nmea.isOpen());
    EXPECT_FALSE(serial.PortOpen());
    EXPECT_EQ(w.Check2.Value(), 1);
    EXPECT_TRUE(shell.boxes.empty());
    EXPECT_EQ(w.UDPRateCode, 1) << "the steps after a failed one still run";
}

// Selecting UTC stores both options before LOCAL is read, so a hand-edited file with both
// true ends consistent, with UTC.
TEST_F(WindowTest, BothOptionsStoredTrueEndConsistentWithUtc) {
    stored("SerialSync", "TimeUTC", "True");
    stored("SerialSync", "TimeLocal", "True");
    load();
    ASSERT_GE(profile.writes.size(), 2u);
    EXPECT_EQ(profile.writes[profile.writes.size() - 2], "SerialSync/TIMEUTC=True");
    EXPECT_EQ(profile.writes.back(), "SerialSync/TIMELOCAL=False");
    EXPECT_EQ(profile.get("SerialSync", "TimeLocal"), "False");
}

}  // namespace
}  // namespace tidewell
