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
    EXPECT_EQ(profile.writes, (Writes{"UDP/UDPADDRESS=", "GPS/GPSDATE=0", address, address,
                                      "UDP/UDPRATE=once per minute",
                                      "SerialSync/SERIALRATE=once per minute"}));
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
    EXPECT_TRUE(std::all_of(r.szInfoTitle.begin(), r.szInfoTitle.end(), [](char c) { return c == 0; }));
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

// ---- GPS port --------------------------------------------------------------------------

struct GpsPortRow {
    const char* what;
    std::optional<std::string> stored;
    std::string shown;
    std::vector<std::string> calls;
    int portNumber;
};

class GpsPortRestore : public WindowTest, public ::testing::WithParamInterface<GpsPortRow> {};

TEST_P(GpsPortRestore, OpensThePortTheTextNames) {
    const GpsPortRow& row = GetParam();
    if (row.stored) stored("GPS", "COMPORT", *row.stored);
    OrvaneSetTime& w = load();
    EXPECT_EQ(w.Combo1.Text(), row.shown);
    EXPECT_EQ(nmea.calls, row.calls);
    EXPECT_EQ(nmea.PortNumber, row.portNumber);
    for (const auto& write : profile.writes) EXPECT_EQ(write.rfind("GPS/COMPORT", 0), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, GpsPortRestore,
    ::testing::Values(
        GpsPortRow{"a listed port", "COM3", "COM3", {"ClosePort", "OpenPort 3"}, 3},
        GpsPortRow{"missing", std::nullopt, "None", {"ClosePort"}, 0},
        GpsPortRow{"empty", "", "None", {"ClosePort"}, 0},
        GpsPortRow{"None", "None", "None", {"ClosePort"}, 0},
        GpsPortRow{"outside the list opens COM1", "COM9", "COM9", {"ClosePort", "OpenPort 1"}, 1},
        GpsPortRow{"small letters are outside the list", "com3", "com3", {"ClosePort", "OpenPort 1"}, 1}),
    [](const auto& info) { return "Row" + std::to_string(info.index); });

TEST_F(WindowTest, AGpsPortThatCannotOpenStaysClosedSilently) {
    stored("GPS", "COMPORT", "COM4");
    nmea.failOpen = true;
    OrvaneSetTime& w = load();
    EXPECT_FALSE(nmea.isOpen());
    EXPECT_TRUE(shell.boxes.empty());
    EXPECT_EQ(w.UDPRateCode, 1) << "the steps after the failed one still run";
}

// ---- Check boxes -------------------------------------------------------------------------

struct CheckRow {
    const char* what;
    std::optional<std::string> stored;
    int state;
};

class BatterySaveRestore : public WindowTest, public ::testing::WithParamInterface<CheckRow> {};

TEST_P(BatterySaveRestore, UsesStrictConversion) {
    if (GetParam().stored) stored("Analog", "BatterySave", *GetParam().stored);
    EXPECT_EQ(load().Check4.Value(), GetParam().state);
}

INSTANTIATE_TEST_SUITE_P(Rows, BatterySaveRestore,
                         ::testing::Values(CheckRow{"checked", " 1", 1}, CheckRow{"plain", "1", 1},
                                           CheckRow{"missing", std::nullopt, 0},
                                           CheckRow{"empty fails", "", 0},
                                           CheckRow{"trailing letters fail", "1x", 0},
                                           CheckRow{"refused state", "5", 0},
                                           CheckRow{"greyed", "2", 2}),
                         [](const auto& info) { return "Row" + std::to_string(info.index); });

struct NumberPrefixRow {
    const char* section;
    const char* key;
    std::optional<std::string> stored;
    int state;
};

class NumberPrefixRestore : public WindowTest, public ::testing::WithParamInterface<NumberPrefixRow> {
protected:
    int stateOf(OrvaneSetTime& w) const {
        std::string key = GetParam().key;
        if (key == "SendSync") return w.Check2.Value();
        if (key == "SendUDP") return w.Check1.Value();
        if (key == "AutoStart") return w.AutoStart.Value();
        return w.Check3.Value();
    }
};

TEST_P(NumberPrefixRestore, ReadsTheLeadingNumber) {
    const auto& row = GetParam();
    if (row.stored) stored(row.section, row.key, *row.stored);
    EXPECT_EQ(stateOf(load()), row.state);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NumberPrefixRestore,
    ::testing::Values(
        NumberPrefixRow{"SerialSync", "SendSync", " 1", 1},
        NumberPrefixRow{"SerialSync", "SendSync", std::nullopt, 0},
        NumberPrefixRow{"SerialSync", "SendSync", "", 0},
        NumberPrefixRow{"SerialSync", "SendSync", "1 and more", 1},
        NumberPrefixRow{"SerialSync", "SendSync", "99999", 0},  // overflow: skipped
        NumberPrefixRow{"UDP", "SendUDP", " 1", 1}, NumberPrefixRow{"UDP", "SendUDP", "1", 1},
        NumberPrefixRow{"UDP", "SendUDP", "1abc", 1}, NumberPrefixRow{"UDP", "SendUDP", "5", 0},
        NumberPrefixRow{"UDP", "SendUDP", "", 0}, NumberPrefixRow{"GPS", "AutoStart", " 1", 1},
        NumberPrefixRow{"GPS", "AutoStart", "abc", 0}, NumberPrefixRow{"GPS", "GPSdate", "1", 1},
        NumberPrefixRow{"GPS", "GPSdate", std::nullopt, 0}, NumberPrefixRow{"GPS", "GPSdate", "0.5", 0},
        NumberPrefixRow{"GPS", "GPSdate", "1.5", 2}),
    [](const auto& info) { return "Row" + std::to_string(info.index); });

TEST_F(WindowTest, CheckedBoxesRunTheirClicksDuringStartUp) {
    stored("SerialSync", "SendSync", " 1");
    stored("UDP", "SendUDP", " 1");
    stored("Analog", "BatterySave", " 1");
    stored("GPS", "GPSdate", "1");
    OrvaneSetTime& w = load();

    for (Control* shown : std::initializer_list<Control*>{&w.SerialRate, &w.Label11, &w.Combo2,
                                                           &w.Label10, &w.UDPrate, &w.Label9})
        EXPECT_TRUE(shown->Visible()) << shown->name();
    EXPECT_FALSE(w.UDPaddress.Visible());
    EXPECT_FALSE(w.Label4.Visible());
    EXPECT_EQ(serial.calls, (std::vector<std::string>{"open 1"})) << "serial sync on: COM1 by default";
    EXPECT_EQ(profile.get("SerialSync", "SendSync"), " 1");
    EXPECT_EQ(profile.get("UDP", "SendUDP"), " 1");
    EXPECT_EQ(profile.get("Analog", "BatterySave"), " 1");
    for (const auto& write : profile.writes)
        EXPECT_NE(write.rfind("GPS/GPSDATE", 0), 0u) << "Check3 starts checked: no change, no write";
}

TEST_F(WindowTest, AutoRunStoredOnRewritesTheEntryAtEveryStart) {
    stored("GPS", "AutoStart", " 1");
    load();
    EXPECT_EQ(registry.values.at(std::string(registry::RunKey) + "\\Tidewell"),
              std::string("/opt/tidewell/tidewell") + '\0');
    EXPECT_EQ(profile.get("GPS", "AutoStart"), " 1");
}

// ---- Serial port -------------------------------------------------------------------------

struct SerialRow {
    const char* what;
    std::optional<std::string> port;
    std::string sendSync;
    std::string shown;
    int commPort;
    std::vector<std::string> calls;
};

class SerialRestore : public WindowTest, public ::testing::WithParamInterface<SerialRow> {};

TEST_P(SerialRestore, OpensOnlyWhenSyncIsOnAndAPortIsChosen) {
    const auto& row = GetParam();
    if (row.port) stored("SerialSync", "COMPORT", *row.port);
    stored("SerialSync", "SendSync", row.sendSync);
    OrvaneSetTime& w = load();
    EXPECT_EQ(w.Combo2.Text(), row.shown);
    EXPECT_EQ(serial.CommPort, row.commPort);
    EXPECT_EQ(serial.calls, row.calls);
    EXPECT_FALSE(profile.get("SerialSync", "COMPORT") && !row.port) << "the default is not written";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SerialRestore,
    ::testing::Values(SerialRow{"listed, on", "COM3", " 1", "COM3", 3, {"open 3"}},
                      SerialRow{"listed, off", "COM3", " 0", "COM3", 3, {}},
                      SerialRow{"missing", std::nullopt, " 1", "COM1", 1, {"open 1"}},
                      SerialRow{"empty", "", " 1", "COM1", 1, {"open 1"}},
                      SerialRow{"None stays closed", "None", " 1", "None", 1, {}},
                      SerialRow{"outside the list keeps the number", "COM12", " 1", "COM12", 1,
                                {"open 1"}}),
    [](const auto& info) { return "Row" + std::to_string(info.index); });

TEST_F(WindowTest, ASerialPortThatCannotOpenStaysClosedSilently) {
    stored("SerialSync", "SendSync", " 1");
    stored("SerialSync", "COMPORT", "COM2");
    serial.failOpen = true;
    OrvaneSetTime& w = load();
    EXPECT_FALSE(serial.PortOpen());
    EXPECT_EQ(w.Check2.Value(), 1);
    EXPECT_TRUE(shell.boxes.empty());
}

// ---- Address and rates -------------------------------------------------------------------

TEST_F(WindowTest, StoredAddressBecomesTheDestination) {
    stored("UDP", "UdpAddress", "127.0.0.1");
    OrvaneSetTime& w = load();
    EXPECT_EQ(w.UDPaddress.Text(), "127.0.0.1");
    EXPECT_EQ(udp.RemoteHost, "127.0.0.1");
    EXPECT_EQ(profile.writes.front(), "UDP/UDPADDRESS=127.0.0.1") << "stored again by its change";
}

struct RateRow {
    const char* what;
    std::optional<std::string> stored;
    std::string shown;
    RateCode code;
    bool writtenBack;
};

class RateRestore : public WindowTest, public ::testing::WithParamInterface<RateRow> {};

TEST_P(RateRestore, BothRateListsFollowTheSameRule) {
    const auto& row = GetParam();
    if (row.stored) {
        stored("UDP", "UDPrate", *row.stored);
        stored("SerialSync", "SerialRate", *row.stored);
    }
    OrvaneSetTime& w = load();
    EXPECT_EQ(w.UDPrate.Text(), row.shown);
    EXPECT_EQ(w.SerialRate.Text(), row.shown);
    EXPECT_EQ(w.UDPRateCode, row.code);
    EXPECT_EQ(w.SerialRateCode, row.code);
    auto written = [&](const std::string& line) {
        return std::find(profile.writes.begin(), profile.writes.end(), line) != profile.writes.end();
    };
    EXPECT_EQ(written("UDP/UDPRATE=once per minute"), row.writtenBack);
    EXPECT_EQ(written("SerialSync/SERIALRATE=once per minute"), row.writtenBack);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RateRestore,
    ::testing::Values(RateRow{"second", "once per second", "once per second", 0, false},
                      RateRow{"day", "once per day", "once per day", 3, false},
                      RateRow{"missing", std::nullopt, "once per minute", 1, true},
                      RateRow{"empty", "", "once per minute", 1, true},
                      RateRow{"other case stays unset", "Once per hour", "Once per hour", std::nullopt, false},
                      RateRow{"unknown stays unset", "hourly", "hourly", std::nullopt, false}),
    [](const auto& info) { return "Row" + std::to_string(info.index); });

// ---- UTC / LOCAL -------------------------------------------------------------------------

struct OptionRow {
    const char* what;
    std::optional<std::string> utc, local;
    bool utcSelected, localSelected;
    std::optional<bool> syncUsesUtc;
};

class OptionRestore : public WindowTest, public ::testing::WithParamInterface<OptionRow> {};

TEST_P(OptionRestore, SelectsByBooleanConversion) {
    const auto& row = GetParam();
    if (row.utc) stored("SerialSync", "TimeUTC", *row.utc);
    if (row.local) stored("SerialSync", "TimeLocal", *row.local);
    OrvaneSetTime& w = load();
    EXPECT_EQ(w.Option1[0].Value(), row.utcSelected);
    EXPECT_EQ(w.Option1[1].Value(), row.localSelected);
    EXPECT_EQ(w.SyncUsesUTC, row.syncUsesUtc);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OptionRestore,
    ::testing::Values(OptionRow{"true", "true", std::nullopt, true, false, true},
                      OptionRow{"minus one", "-1", std::nullopt, true, false, true},
                      OptionRow{"one", "1", "False", true, false, true},
                      OptionRow{"yes is skipped", "yes", std::nullopt, false, false, std::nullopt},
                      OptionRow{"empty is skipped", "", "", false, false, std::nullopt},
                      OptionRow{"local", "False", "True", false, true, false},
                      OptionRow{"both true: the UTC click rewrites LOCAL first", "True", "TRUE", true, false, true}),
    [](const auto& info) { return "Row" + std::to_string(info.index); });

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
