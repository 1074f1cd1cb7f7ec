// Start-up against a real settings file on disk.
#include "settings/ini_profile.h"
#include "temp_folder.h"
#include "window_fixture.h"

namespace tidewell {
namespace {

struct SettingsFile : WindowTest {
    IniProfileStore ini;
    testing::TempFolder dir;
    SettingsFile() { store = &ini, file = dir.file("Tidewell.ini"); }
};

TEST_F(SettingsFile, FirstRunWritesExactlyTheDefaultsAndASecondRunKeepsThem) {
    load();
    const std::string first = testing::readBytes(file);
    EXPECT_EQ(first, "[UDP]\nUDPADDRESS=" + std::string(kDefaultUdpAddress) +
                         "\nUDPRATE=once per minute\n[GPS]\nGPSDATE=0\n"
                         "[SerialSync]\nSERIALRATE=once per minute\n");
    load();
    EXPECT_EQ(testing::readBytes(file), first);
}

TEST_F(SettingsFile, HandWrittenCrlfFileWithMarkAndMixedCaseIsReadAndKeptByteForByte) {
    const std::string original =
        "\xEF\xBB\xBF[gps]\r\n; written by hand\r\nComPort = COM2\r\nGpsDate=1\r\n\r\n"
        "[Udp]\r\nSendUdp= 1\r\nUdpAddress=127.0.0.1\r\nUDPRate=once per second\r\n"
        "udprate=once per day\r\n\r\n[serialsync]\r\nSerialRate=once per hour\r\nTimeUtc=TRUE\r\n";
    testing::writeBytes(file, original);
    OrvaneSetTime& w = load();
    EXPECT_EQ(nmea.PortNumber, 2);
    EXPECT_EQ(w.UDPRateCode, 0) << "the first of a repeated key counts";
    EXPECT_EQ(w.SyncUsesUTC, true);
    // Start-up stored SendUDP, the address and the two options again, in their own lines.
    std::string expected = original;
    expected.replace(expected.find("TimeUtc=TRUE"), 12, "TimeUtc=True\r\nTIMELOCAL=False");
    EXPECT_EQ(testing::readBytes(file), expected);
}

}  // namespace
}  // namespace tidewell
