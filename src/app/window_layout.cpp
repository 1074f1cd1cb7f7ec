// The window's controls as it lays them out: captions, places in twips, tab order and fonts,
// and the handler each one raises.
#include "app/orvane_set_time.h"
#include "app/startup_restore.h"

namespace tidewell {

namespace {
const Font kBold12{"MS Sans Serif", 12, true};
}  // namespace

using window_text::kNone;
using window_text::kRates;

OrvaneSetTime::OrvaneSetTime(Platform platform, Components components, ProgramEvents& events,
                             std::string settingsFile)
    : Label6("Label6", "Set PC Time from GPS Receiver", {870, 180, 3945, 405}, 6),
      txtGPStime("txtGPStime", "Text1", {1050, 810, 3255, 315}, 25),
      txtLocalTime("txtLocalTime", "Text1", {1050, 810, 3225, 315}, 0),
      Combo1("Combo1", kNone, {4410, 810, 885, 315}, 2),
      Label7("Label7", "GPS Date and Time Received", {1500, 1140, 2265, 225}, 24),
      Label1("Label1", "GPS Com Port", {4350, 1140, 1185, 255}, 4),
      Check3("Check3", "Use GPS Date", {4440, 1500, 975, 525}, 26, 1),
      txtPCtime("txtPCtime", "Text1", {1050, 1590, 3255, 315}, 7),
      Label8("Label8", "PC Local Date and Time", {1680, 1920, 1935, 255}, 8),
      Label3("Label3",
             "This program uses NMEA-0183 GPS data (RMC sentence) at 4800 baud. The PC's time is "
             "updated once per minute.   The GPS time will only display and increment if valid "
             "time data is received.",
             {330, 2160, 5085, 675}, 3),
      Line1{"Line1", 300, 3030, 5310, 3030},
      Label12("Label12", "Sync Output to Time Displays", {1200, 3270, 3225, 345}, 23),
      Option1{OptionButton("Option1", 0, "UTC", {2430, 3630, 975, 255}, 20),
              OptionButton("Option1", 1, "LOCAL", {2430, 3960, 915, 225}, 21)},
      Check1("Check1", "UDP Network Time Sync Broadcast.", {3630, 3690, 1755, 465}, 9, 0),
      Check2("Check2", "Serial Time Sync Broadcast", {360, 3720, 1515, 375}, 17, 0),
      SerialRate("SerialRate", "", {360, 4410, 1695, 315}, 18, kRates),
      UDPrate("UDPrate", "", {3570, 4410, 1725, 315}, 11, kRates),
      Label11("Label11", "Serial Xmit Rate", {480, 4710, 1365, 255}, 19),
      Label9("Label9", "UDP Xmit Rate", {3810, 4740, 1155, 225}, 13),
      Check4("Check4", "Use analog clock battery save mode", {2220, 4830, 1275, 825}, 27, 0),
      UDPaddress("UDPaddress", kDefaultUdpAddress, {3630, 5040, 1695, 315}, 14, 15),
      Combo2("Combo2", kNone, {690, 5070, 915, 315}, 15),
      Label4("Label4", "UDP Xmit Port Address", {3630, 5340, 1725, 225}, 12),
      Label10("Label10", "Serial Sync Com Port", {390, 5400, 1695, 225}, 16),
      AutoStart("AutoStart", "Auto-run at Windows Startup", {330, 5760, 1545, 405}, 10, 0),
      Command1("Command1", "Close and Exit", {4140, 5760, 1275, 375}, 1),
      Command4("Command4", "Hide Program", {2400, 5790, 1125, 375}, 5),
      Label5("Label5", "By the Tidewell developers", {360, 6300, 2265, 255}, 22),
      Label2("Label2", "", {4230, 6300, 1245, 225}, 28), MSComm1(components.serial),
      SendUDP("SendUDP", 100, true), Timer1("Timer1", 100, true), NMEA1(components.nmea),
      UDPBroadcast(components.udp), shell_(platform.shell), clock_(platform.clock),
      events_(events), module_(platform.profile, platform.autoRun, platform.executable),
      settingsFile_(std::move(settingsFile)), clockUpdate_(platform.clock),
      scheduler_(platform.clock),
      outputs_(components.serial, components.udp, platform.shell, events),
      refclock_(components.refclock, events) {
    Label6.font = kBold12;
    txtGPStime.font = kBold12;
    txtLocalTime.font = kBold12;
    txtPCtime.font = kBold12;
    Label12.font = Font{"Arial", 12, false};
    for (auto& option : Option1) option.group = {&Option1[0], &Option1[1]};
    for (Control* control : controls()) control->observer = this;
    wireHandlers();
}

void OrvaneSetTime::wireHandlers() {
    Command1.Click = [this] { Command1_Click(); };
    Command4.Click = [this] { Command4_Click(); };
    AutoStart.Click = [this] { AutoStart_Click(); };
    Check1.Click = [this] { Check1_Click(); };
    Check2.Click = [this] { Check2_Click(); };
    Check3.Click = [this] { Check3_Click(); };
    Check4.Click = [this] { Check4_Click(); };
    Combo1.Click = [this] { Combo1_Click(); };
    Combo2.Click = [this] { Combo2_Click(); };
    for (auto& option : Option1) option.Click = [this](int index) { Option1_Click(index); };
    SerialRate.Click = [this] { SerialRate_Click(); };
    UDPrate.Click = [this] { UDPrate_Click(); };
    UDPaddress.Change = [this] { UDPaddress_Change(); };
    SendUDP.Tick = [this] { SendUDP_Timer(); };
    Timer1.Tick = [this] { Timer1_Timer(); };
    NMEA1.SentenceReceived = [this](const NmeaSentence& s) { NMEA1_SentenceReceived(s); };
}

std::vector<Control*> OrvaneSetTime::controls() {
    return {&Label6,    &txtGPStime, &txtLocalTime, &Combo1,     &Label7,  &Label1,
            &Check3,    &txtPCtime,  &Label8,       &Label3,     &Label12, &Option1[0],
            &Check1,    &Check2,     &Option1[1],   &SerialRate, &UDPrate, &Label11,
            &Label9,    &Check4,     &UDPaddress,   &Combo2,     &Label4,  &Label10,
            &AutoStart, &Command1,   &Command4,     &Label5,     &Label2};
}

bool OrvaneSetTime::neverShown(const Control& c) const {
    return &c == &txtLocalTime || &c == &UDPaddress || &c == &Label4;
}

}  // namespace tidewell
