// Start-up against a real settings file on disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/orvane_set_time.h"
#include "fakes.h"
#include "settings/ini_profile.h"

namespace tidewell {
namespace {

namespace fs = std::filesystem;

class SettingsFile : public ::testing::Test {
protected:
    fs::path folder;
    fs::path file;
    IniProfileStore profile;
    fakes::FakeShell shell;
    fakes::FakeAutoRun autoRun;
    fakes::FakeClock clock;
    fakes::FakeNmeaReceiver nmea;
    fakes::FakeSerialPort serial;
    fakes::FakeUdpSocket udp;
    std::unique_ptr<OrvaneSetTime> window;

    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("tidewell-settings-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        file = folder / "Tidewell.ini";
    }
    void TearDown() override { fs::remove_all(folder); }

    OrvaneSetTime& load() {
        window = std::make_unique<OrvaneSetTime>(
            OrvaneSetTime::Platform{shell, profile, autoRun, clock},
            OrvaneSetTime::Components{nmea, serial, udp}, file.string());
        window->Form_Load();
        return *window;
    }
    void write(const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }
    std::string bytes() const {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
};

TEST_F(SettingsFile, FirstRunWritesExactlyTheDefaults) {
    load();
    EXPECT_EQ(bytes(), "[UDP]\n"
                       "UDPADDRESS=" +
                           std::string(kDefaultUdpAddress) +
                           "\n"
                           "UDPRATE=once per minute\n"
                           "[GPS]\n"
                           "GPSDATE=0\n"
                           "[SerialSync]\n"
                           "SERIALRATE=once per minute\n");
    // A second start reads its own file back and changes nothing.
    const std::string first = bytes();
    load();
    EXPECT_EQ(bytes(), first);
    EXPECT_EQ(window->UDPRateCode, 1);
    EXPECT_EQ(window->Check3.Value(), 0);
}

TEST_F(SettingsFile, HandWrittenCrlfFileWithMarkAndMixedCaseIsReadAndKeptByteForByte) {
    const std::string original = "\xEF\xBB\xBF[gps]\r\n"
                                 "; written by hand\r\n"
                                 "ComPort = COM2\r\n"
                                 "GpsDate=1\r\n"
                                 "\r\n"
                                 "[Udp]\r\n"
                                 "SendUdp= 1\r\n"
                                 "UdpAddress=127.0.0.1\r\n"
                                 "UDPRate=once per second\r\n"
                                 "udprate=once per day\r\n"
                                 "\r\n"
                                 "[serialsync]\r\n"
                                 "SerialRate=once per hour\r\n"
                                 "TimeUtc=TRUE\r\n";
    write(original);
    OrvaneSetTime& w = load();

    EXPECT_EQ(w.Combo1.Text(), "COM2");
    EXPECT_EQ(nmea.PortNumber, 2);
    EXPECT_EQ(w.Check3.Value(), 1);
    EXPECT_EQ(w.Check1.Value(), 1);
    EXPECT_EQ(udp.RemoteHost, "127.0.0.1");
    EXPECT_EQ(w.UDPRateCode, 0) << "the first of a repeated key counts";
    EXPECT_EQ(w.SerialRateCode, 2);
    EXPECT_EQ(w.SyncUsesUTC, true);

    // Start-up stored SendUDP, the address and the two options again, in their own lines.
    const std::string after = bytes();
    EXPECT_TRUE(after.starts_with(original.substr(0, original.find("SendUdp")))) << after;
    EXPECT_NE(after.find("udprate=once per day\r\n"), std::string::npos);
    EXPECT_NE(after.find("TimeUtc=True\r\nTIMELOCAL=False\r\n"), std::string::npos) << after;
    EXPECT_EQ(after.find("\n\n"), std::string::npos) << "no bare LF in a CRLF file";
}

}  // namespace
}  // namespace tidewell
