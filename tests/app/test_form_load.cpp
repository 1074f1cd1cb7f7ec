// Start-up: what it makes of each stored value, and what it leaves in a real settings file.
#include <map>

#include "platform/paths.h"
#include "settings/ini_profile.h"
#include "temp_folder.h"
#include "window_fixture.h"

namespace tidewell {
namespace {

// What start-up made of each stored key: the state of the controls and components it feeds.
std::map<std::string, std::string> restoredState(const WindowTest& t, const OrvaneSetTime& w) {
    auto port = [](const std::string& text, int number, bool open) {
        return text + " port " + std::to_string(number) + (open ? " open" : "");
    };
    const auto delay = w.extended().preciseDelay;
    const std::string precise =
        delay ? "+" + std::to_string(delay->count()) + " ms" : std::string("whole seconds");
    return {
        {"GPS/COMPORT", port(w.Combo1.Text(), t.nmea.PortNumber, t.nmea.open)},
        {"SerialSync/COMPORT", port(w.Combo2.Text(), t.serial.CommPort, t.serial.open)},
        {"Analog/BatterySave", std::to_string(w.Check4.Value())},
        {"SerialSync/SendSync", std::to_string(w.Check2.Value())},
        {"UDP/UDPaddress", w.UDPaddress.Text() + " to " + t.udp.RemoteHost},
        {"GPS/PRECISE", precise},
        {"GPS/DELAYMS", precise},
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
        {"SerialSync/COMPORT", "COM1 port 1 open", "", syncOn},
        {"SerialSync/COMPORT=None", "None port 1", "", syncOn},
        {"SerialSync/COMPORT=COM12", "COM12 port 1 open", notAPort, syncOn},  // keeps the number
        {"UDP/UDPaddress=", std::string(kDefaultUdpAddress) + " to " + kDefaultUdpAddress},
        {"GPS/PRECISE=1 please", "+0 ms", "PRECISE is read as 1"},
        {"GPS/PRECISE=5", "whole seconds", "PRECISE is not 0 or 1; left at 0"},
        {"GPS/DELAYMS=152ms", "+152 ms", "DELAYMS is read as 152", precise},
        {"GPS/DELAYMS=1500", "+0 ms", "DELAYMS is not 0 to 999; read as 0", precise},
        {"Log/LEVEL=quiet", "seconds", "LEVEL is not events or seconds; read as seconds"},
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

// ---- Against a real settings file on disk --------------------------------------------------

struct SettingsFile : WindowTest {
    IniProfileStore ini;
    testing::TempFolder dir;
    SettingsFile() { store = &ini, file = dir.file("Tidewell.ini"); }
};

// A first run writes exactly the defaults, hides the window and the controls of the outputs
// and opens nothing (the window and tray tests check the shells); a second run keeps the file.
// A hand-written file (CRLF, a byte-order mark, names in any case, a key twice, everything on)
// is read and kept byte for byte but for what the clicks start-up raises store again: the
// on/off keys with their blank, and UTC alone when both options were on. Ports that fail to
// open stay closed silently, and the steps after them run.
TEST_F(SettingsFile, FirstRunWritesTheDefaultsAndAHandWrittenFileIsKeptButForWhatIsStoredAgain) {
    OrvaneSetTime& w = load();
    const std::string first = testing::readBytes(file);
    EXPECT_EQ(first, "[UDP]\nUDPADDRESS=" + std::string(kDefaultUdpAddress) +
                         "\nUDPRATE=once per minute\n[GPS]\nGPSDATE=0\n"
                         "[SerialSync]\nSERIALRATE=once per minute\n");
    EXPECT_EQ(nmea.calls, Strings{"ClosePort"});
    EXPECT_TRUE(serial.calls.empty() && autoRun.values.empty() && shell.boxes.empty());
    EXPECT_TRUE(shell.trayShown && !w.Visible() && !w.Timer1.Enabled());
    EXPECT_FALSE(w.UDPaddress.Visible() || w.UDPrate.Visible() || w.SerialRate.Visible() ||
                 w.Combo2.Visible());
    load();
    EXPECT_EQ(testing::readBytes(file), first);

    const std::string original =
        "\xEF\xBB\xBF[gps]\r\n; written by hand\r\nComPort = COM2\r\nGpsDate=1\r\n"
        "AutoStart=1\r\n\r\n[Udp]\r\nSendUdp=1\r\nUdpAddress=127.0.0.1\r\n"
        "UDPRate=once per second\r\nudprate=once per day\r\n\r\n[serialsync]\r\n"
        "SendSync=1\r\nSerialRate=once per hour\r\nTimeUtc=TRUE\r\nTimeLocal=True\r\n"
        "[Analog]\r\nBatterySave=1\r\n";
    testing::writeBytes(file, original);
    nmea.failOpen = serial.failOpen = true;
    OrvaneSetTime& read = load();
    EXPECT_EQ(nmea.PortNumber, 2);
    EXPECT_EQ(read.UDPRateCode, 0) << "the first of a repeated key counts";
    EXPECT_TRUE(read.SerialRateCode == 2 && read.SyncUsesUTC == true);
    EXPECT_TRUE(read.SerialRate.Visible() && read.Combo2.Visible() && read.UDPrate.Visible());
    EXPECT_FALSE(read.UDPaddress.Visible() || nmea.isOpen() || serial.PortOpen());
    EXPECT_TRUE(shell.boxes.empty());
    EXPECT_EQ(autoRun.values.at("Run\\Tidewell"),
              paths::join("/opt/tidewell", "tidewell") + std::string(paths::executableSuffix));
    std::string expected = original;
    for (auto [from, to] : {std::pair{"AutoStart=1", "AutoStart= 1"},
                            {"SendUdp=1", "SendUdp= 1"},
                            {"SendSync=1", "SendSync= 1"},
                            {"BatterySave=1", "BatterySave= 1"},
                            {"TimeUtc=TRUE", "TimeUtc=True"},
                            {"TimeLocal=True", "TimeLocal=False"}})
        expected.replace(expected.find(from), std::string_view(from).size(), to);
    EXPECT_EQ(testing::readBytes(file), expected);
}

}  // namespace
}  // namespace tidewell
