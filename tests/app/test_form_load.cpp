#include <cstring>

#include "window_fixture.h"

namespace tidewell {
namespace {

using Writes = std::vector<std::string>;

TEST_F(WindowTest, FirstRunWithoutSettingsEndsInTheDefaultState) {
    OrvaneSetTime& w = load();

    EXPECT_EQ(w.Combo1.Text(), "None");
    EXPECT_EQ(nmea.calls, (std::vector<std::string>{"ClosePort"})) << "no GPS port is opened";
    EXPECT_EQ(nmea.PortNumber, 0);
    EXPECT_EQ(w.Combo2.Text(), "COM1");
    EXPECT_EQ(serial.CommPort, 1);
    EXPECT_TRUE(serial.calls.empty()) << "serial sync is off, so its port stays closed";
    for (CheckBox* box : {&w.Check1, &w.Check2, &w.Check3, &w.Check4, &w.AutoStart})
        EXPECT_EQ(box->Value(), 0) << box->name();
    EXPECT_EQ(w.UDPrate.Text(), "once per minute");
    EXPECT_EQ(w.SerialRate.Text(), "once per minute");
    EXPECT_EQ(w.UDPRateCode, 1);
    EXPECT_EQ(w.SerialRateCode, 1);
    EXPECT_EQ(w.UDPaddress.Text(), kDefaultUdpAddress);
    EXPECT_FALSE(w.Option1[0].Value());
    EXPECT_FALSE(w.Option1[1].Value());
    EXPECT_FALSE(w.SyncUsesUTC.has_value());

    // The address is written empty first (its change handler), then restored twice.
    const std::string address = std::string("UDP/UDPADDRESS=") + kDefaultUdpAddress;
    EXPECT_EQ(profile.writes,
              (Writes{"UDP/UDPADDRESS=", "GPS/GPSDATE=0", address, address,
                      "UDP/UDPRATE=once per minute", "SerialSync/SERIALRATE=once per minute"}));
    EXPECT_EQ(udp.RemoteHost, kDefaultUdpAddress);
    EXPECT_EQ(udp.Protocol, UdpSocket::UdpProtocol);
    EXPECT_EQ(udp.RemotePort, 16000);
    EXPECT_EQ(udp.LocalPort, 16000);
    EXPECT_TRUE(registry.calls.empty()) << "auto-run off at start-up touches nothing";
    EXPECT_TRUE(shell.boxes.empty()) << "start-up reports nothing";
}

TEST_F(WindowTest, StartUpHidesTheWindowAndShowsOnlyWhatBelongs) {
    OrvaneSetTime& w = load();

    EXPECT_FALSE(w.Visible());
    EXPECT_TRUE(w.SendUDP.Enabled());
    EXPECT_FALSE(w.Timer1.Enabled());
    EXPECT_EQ(shell.exStyle, 0x100) << "only the taskbar flag is cleared";
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

TEST_F(WindowTest, TrayRecordIsFilledAndAddedOnce) {
    OrvaneSetTime& w = load();
    ASSERT_EQ(shell.notifyCalls.size(), 1u);
    EXPECT_EQ(shell.notifyCalls[0].first, notify::NIM_ADD);
    const NotifyIconData& r = shell.notifyCalls[0].second;
    EXPECT_EQ(r.cbSize, 488u);
    EXPECT_EQ(r.hWnd, shell.windowHandle());
    EXPECT_EQ(r.uID, 0u);
    EXPECT_EQ(r.uFlags, 7u);
    EXPECT_EQ(r.uCallbackMessage, 512u);
    EXPECT_EQ(r.hIcon, shell.iconHandle());

    std::string tip(r.szTip.begin(), r.szTip.end());
    std::string expected = std::string("Set PC Time from GPS") + '\0';
    expected.resize(128, ' ');
    EXPECT_EQ(tip, expected);
    EXPECT_TRUE(std::all_of(r.szInfo.begin(), r.szInfo.end(), [](char c) { return c == 0; }));
    EXPECT_TRUE(
        std::all_of(r.szInfoTitle.begin(), r.szInfoTitle.end(), [](char c) { return c == 0; }));
    EXPECT_EQ(std::memcmp(&w.NotifyIconRecord, &r, sizeof r), 0) << "the window keeps the record";
}

TEST_F(WindowTest, ListsHoldTheirEntriesInOrder) {
    OrvaneSetTime& w = load();
    const std::vector<std::string> ports{"None", "COM1", "COM2", "COM3", "COM4",
                                         "COM5", "COM6", "COM7", "COM8"};
    EXPECT_EQ(w.Combo1.List(), ports);
    EXPECT_EQ(w.Combo2.List(), ports);
    const std::vector<std::string> rates{"once per second", "once per minute", "once per hour",
                                         "once per day"};
    EXPECT_EQ(w.SerialRate.List(), rates);
    EXPECT_EQ(w.UDPrate.List(), rates);
}

// ---- Restoring each setting ------------------------------------------------------------

// One stored value (or none), the state it restores, summed up by `probe`, and how a view
// that reports events is told it was read when that is not as it stands.
struct Restore {
    const char* section;
    const char* key;
    std::optional<std::string> stored;
    std::string state;
    std::string readAs = "";
};

struct ReadAsEvents : WindowEvents {
    std::string how;
    void settingReadAs(std::string_view, std::string_view, const std::string&,
                       const std::string& h) override {
        how += h;
    }
};

std::string code(const RateCode& c) {
    return c ? std::to_string(*c) : "unset";
}

class Restores : public WindowTest, public ::testing::WithParamInterface<Restore> {
protected:
    std::string probe(OrvaneSetTime& w) {
        const std::string key = fakes::FakeProfileStore::id("", GetParam().key).substr(1);
        const std::string section = GetParam().section;
        if (key == "comport" && section == "GPS")
            return w.Combo1.Text() + " port " + std::to_string(nmea.PortNumber) +
                   (nmea.open ? " open" : "");
        if (key == "comport")
            return w.Combo2.Text() + " port " + std::to_string(serial.CommPort) +
                   (serial.open ? " open" : "");
        if (key == "batterysave") return std::to_string(w.Check4.Value());
        if (key == "sendsync") return std::to_string(w.Check2.Value());
        if (key == "sendudp") return std::to_string(w.Check1.Value());
        if (key == "autostart") return std::to_string(w.AutoStart.Value());
        if (key == "gpsdate") return std::to_string(w.Check3.Value());
        if (key == "udpaddress") return w.UDPaddress.Text() + " to " + udp.RemoteHost;
        if (key == "udprate") return w.UDPrate.Text() + " code " + code(w.UDPRateCode);
        if (key == "serialrate") return w.SerialRate.Text() + " code " + code(w.SerialRateCode);
        std::string sync = w.SyncUsesUTC ? (*w.SyncUsesUTC ? "utc" : "local") : "unset";
        return std::string(w.Option1[0].Value() ? "UTC" : "-") +
               (w.Option1[1].Value() ? "LOCAL" : "-") + " " + sync;
    }
};

TEST_P(Restores, StoredValueGivesItsState) {
    const Restore& row = GetParam();
    if (row.stored) stored(row.section, row.key, *row.stored);
    // Serial sync on, so the serial port rows show whether the port opens.
    if (std::string(row.section) == "SerialSync" && std::string(row.key) == "COMPORT")
        stored("SerialSync", "SendSync", " 1");
    ReadAsEvents events;
    make().events = &events;
    window->Form_Load();
    EXPECT_EQ(probe(*window), row.state);
    EXPECT_EQ(events.how, row.readAs);
    EXPECT_TRUE(shell.boxes.empty()) << "start-up reports nothing";
}

const std::optional<std::string> missing;
const std::string kNotAPort = "is not one of None, COM1..COM8; read as COM1";
const std::string kNotARate = "is not one of once per second, once per minute, once per hour, "
                              "once per day; read as once per second";

INSTANTIATE_TEST_SUITE_P(
    Rows, Restores,
    ::testing::Values(
        Restore{"GPS", "COMPORT", "COM3", "COM3 port 3 open"},
        Restore{"GPS", "COMPORT", missing, "None port 0"},
        Restore{"GPS", "COMPORT", "", "None port 0"},
        Restore{"GPS", "COMPORT", "COM9", "COM9 port 1 open", kNotAPort},
        Restore{"GPS", "COMPORT", "com3", "com3 port 1 open",
                kNotAPort},  // lists compare case-sensitively
        Restore{"Analog", "BatterySave", " 1", "1"}, Restore{"Analog", "BatterySave", missing, "0"},
        Restore{"Analog", "BatterySave", "", "0"},  // strict: empty fails
        Restore{"Analog", "BatterySave", "1x", "0", "cannot be used (Type mismatch); left at 0"},
        Restore{"Analog", "BatterySave", "5", "0",
                "cannot be used (Invalid property value); left at 0"},
        Restore{"SerialSync", "SendSync", " 1", "1"}, Restore{"SerialSync", "SendSync", "", "0"},
        Restore{"SerialSync", "SendSync", "1 and more", "1", "is read as 1"},
        Restore{"SerialSync", "SendSync", "99999", "0", "cannot be used (Overflow); left at 0"},
        Restore{"SerialSync", "COMPORT", "COM3", "COM3 port 3 open"},
        Restore{"SerialSync", "COMPORT", missing, "COM1 port 1 open"},
        Restore{"SerialSync", "COMPORT", "", "COM1 port 1 open"},
        Restore{"SerialSync", "COMPORT", "None", "None port 1"},
        Restore{"SerialSync", "COMPORT", "COM12", "COM12 port 1 open",
                kNotAPort},  // keeps the number
        Restore{"UDP", "SendUDP", "1abc", "1", "is read as 1"},
        Restore{"UDP", "SendUDP", "5", "0", "cannot be used (Invalid property value); left at 0"},
        Restore{"UDP", "SendUDP", missing, "0"}, Restore{"GPS", "AutoStart", " 1", "1"},
        Restore{"GPS", "AutoStart", "abc", "0", "is read as 0"},
        Restore{"GPS", "GPSdate", "1", "1"}, Restore{"GPS", "GPSdate", missing, "0"},
        Restore{"GPS", "GPSdate", "1.5", "2"},  // halves to even
        Restore{"UDP", "UdpAddress", "127.0.0.1", "127.0.0.1 to 127.0.0.1"},
        Restore{"UDP", "UDPaddress", "",
                std::string(kDefaultUdpAddress) + " to " + kDefaultUdpAddress},
        Restore{"UDP", "UDPrate", "once per day", "once per day code 3"},
        Restore{"UDP", "UDPrate", "", "once per minute code 1"},
        Restore{"UDP", "UDPrate", "Once per hour", "Once per hour code unset", kNotARate},
        Restore{"SerialSync", "serialrate", "once per second", "once per second code 0"},
        Restore{"SerialSync", "serialrate", missing, "once per minute code 1"},
        Restore{"SerialSync", "serialrate", "hourly", "hourly code unset", kNotARate},
        Restore{"SerialSync", "TimeUTC", "true", "UTC- utc"},
        Restore{"SerialSync", "TimeUTC", "-1", "UTC- utc"},
        Restore{"SerialSync", "TimeUTC", "yes", "-- unset",
                "cannot be used (Type mismatch); left not selected"},
        Restore{"SerialSync", "TimeUTC", "", "-- unset"},
        Restore{"SerialSync", "TimeLocal", "True", "-LOCAL local"},
        Restore{"SerialSync", "TimeLocal", "0", "-- unset"}),
    [](const auto& info) { return "Row" + std::to_string(info.index); });

TEST_F(WindowTest, EmptyDefaultsAreWrittenBackOthersAreNot) {
    for (auto [section, key] : {std::pair{"GPS", "COMPORT"},
                                {"SerialSync", "COMPORT"},
                                {"UDP", "UDPaddress"},
                                {"UDP", "UDPrate"},
                                {"SerialSync", "serialrate"}})
        stored(section, key, "");
    load();
    EXPECT_EQ(profile.get("GPS", "COMPORT"), "");
    EXPECT_EQ(profile.get("SerialSync", "COMPORT"), "");
    EXPECT_EQ(profile.get("UDP", "UDPaddress"), kDefaultUdpAddress);
    EXPECT_EQ(profile.get("UDP", "UDPrate"), "once per minute");
    EXPECT_EQ(profile.get("SerialSync", "serialrate"), "once per minute");
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
    EXPECT_EQ(registry.values.at("Run\\Tidewell"), AutoRunValue("/opt/tidewell/tidewell"));
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
