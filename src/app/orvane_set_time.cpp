#include "app/orvane_set_time.h"

#include "app/startup_restore.h"
#include "gps/rmc_time.h"
#include "platform/paths.h"
#include "settings/conversions.h"

namespace tidewell {

namespace {

using namespace window_text;

constexpr const char* kCommError = "Please check your comm settings";
constexpr const char* kTrayTip = "Set PC Time from GPS";

void fillPorts(ComboBox& list) {
    for (const std::string& port : kPorts) list.AddItem(port);
}

}  // namespace

void OrvaneSetTime::controlChanged(const Control& control) {
    for (ControlMirror* mirror : mirrors_) mirror->controlChanged(control);
}

bool OrvaneSetTime::gpsPortWanted() const {
    return gpsPort() != kNone && NMEA1.PortNumber > 0;
}

bool OrvaneSetTime::serialSyncPortWanted() const {
    return serialSyncOn() && serialSyncPort() != kNone;
}

void OrvaneSetTime::Visible(bool visible) {
    if (visible_ == visible) return;
    visible_ = visible;
    shell_.showWindow(visible);
}

std::string OrvaneSetTime::setting(std::string_view section, std::string_view key) {
    return module_.GetIniSetting(section, key, settingsFile_);
}

// A change that cannot be kept is told each time, and lasts until the program ends.
void OrvaneSetTime::save(std::string_view section, std::string_view key, std::string_view value) {
    const WriteOutcome outcome = module_.SaveIniSetting(section, key, value, settingsFile_);
    if (outcome) events_.settingSaved(settingsFile_);
    if (!outcome)
        events_.settingsNotSaved(settingsFile_, outcome.failure);
    else if (!outcome.note.empty() && !std::exchange(settingsNoteTold_, true))
        events_.eventLine("settings: " + settingsFile_ + ": " + outcome.note);
}

void OrvaneSetTime::readAs(std::string_view section, std::string_view key, const std::string& text,
                           const std::string& how) {
    events_.settingReadAs(section, key, text, how);
}

// The box says only that something is wrong; the report line says what.
void OrvaneSetTime::showCommError(const std::string& why) {
    events_.eventLine(why);
    shell_.messageBox(kCommError, "ERROR", MsgBoxIcon::Exclamation, MsgBoxButtons::Ok);
}

std::string OrvaneSetTime::portClash(const char* output, const std::string& port,
                                     const char* other) {
    return std::string(output) + ": " + port + " is the " + other + "'s port too; choose another";
}

// ---- Start-up --------------------------------------------------------------------------

void OrvaneSetTime::Form_Load() {
    const StartupRestore restore(
        [this](auto section, auto key) { return setting(section, key); },
        [this](auto section, auto key, auto value) { save(section, key, value); },
        [this](auto section, auto key, const auto& text, const auto& how) {
            readAs(section, key, text, how);
        });
    const auto step = StartupRestore::step;

    step([&] {
        UDPBroadcast.Protocol = UdpSocket::UdpProtocol;
        UDPBroadcast.RemotePort = UDPBroadcast.LocalPort = 16000;
        UDPBroadcast.RemoteHost = kDefaultUdpAddress;
    });
    step([&] { SendUDP.Enabled(true), Timer1.Enabled(false); });
    step([&] { Visible(false), txtLocalTime.Visible(false); });
    step([&] { shell_.showInTaskbar(false); });
    step([&] { NotifyIconRecord.tip = kTrayTip, shell_.addTrayIcon(NotifyIconRecord); });
    step([&] { Combo1.Text(kNone), fillPorts(Combo1); });
    step([&] { Combo1.Text(setting("GPS", "COMPORT")); });
    restore.check(Check4, "Analog", "BatterySave", strictNumber);
    step([&] {
        Label2.Caption("Version " + std::to_string(TIDEWELL_VERSION_MAJOR) + "." +
                       std::to_string(TIDEWELL_VERSION_MINOR) + "." +
                       std::to_string(TIDEWELL_VERSION_REVISION));
    });
    step([&] { if (Combo1.Text().empty()) Combo1.Text(kNone); });
    step([&] { openGpsPortAtStart(restore); });
    restore.check(Check2, "SerialSync", "SendSync", numberPrefix);
    step([&] { showSerialControls(Check2.Value() == 1); });
    step([&] { Combo2.Text(""), fillPorts(Combo2); });
    step([&] {
        Combo2.Text(setting("SerialSync", "COMPORT"));
        if (Combo2.Text().empty()) Combo2.Text("COM1");
    });
    step([&] { chooseSerialPortAtStart(restore); });
    step([&] {
        if (Check2.Value() == 1 && Combo2.Text() != kNone) MSComm1.PortOpen(true);
    });
    step([&] { txtLocalTime.Text(""), txtGPStime.Text(""); });
    step([&] { UDPaddress.Visible(false), Label4.Visible(false); });
    restore.check(Check1, "UDP", "SendUDP", numberPrefix);
    step([&] { showUdpControls(Check1.Value() == 1); });
    step([&] { UDPaddress.Text(kDefaultUdpAddress); });
    restore.check(AutoStart, "GPS", "AutoStart", numberPrefix);
    step([&] { UDPaddress.Text(setting("UDP", "UDPaddress")); });
    restore.check(Check3, "GPS", "GPSdate", numberPrefix);
    step([&] { UDPBroadcast.RemoteHost = UDPaddress.Text(); });
    step([&] {
        if (UDPaddress.Text().empty())
            UDPaddress.Text(kDefaultUdpAddress), save("UDP", "UDPAddress", UDPaddress.Text());
    });
    restore.rate(UDPrate, UDPRateCode, "UDP", "UDPrate");
    restore.rate(SerialRate, SerialRateCode, "SerialSync", "serialrate");
    restore.option(Option1[0], "SerialSync", "TimeUTC");
    restore.option(Option1[1], "SerialSync", "TimeLocal");
    step([&] { extended_ = ExtendedSettings::read(
                   [this](auto section, auto key) { return setting(section, key); },
                   [this](auto section, auto key, const auto& text, const auto& how) {
                       readAs(section, key, text, how);
                   },
                   paths::folderOf(settingsFile_)); });
    step([&] { useRefclock(); });
}

void OrvaneSetTime::useRefclock() {
    if (!extended_.refclock) return;
    if (!refclock_.available()) {
        readAs("GPS", "REFCLOCK", setting("GPS", "REFCLOCK"),
               "is for chrony, which this system does not have; the clock is set as before");
        extended_.refclock.reset();
        return;
    }
    refclock_.use(*extended_.refclock);
}

// A text outside the list keeps port 1; "None" closes it.
void OrvaneSetTime::openGpsPortAtStart(const StartupRestore& restore) {
    NMEA1.PortNumber = 1;
    const auto port = portNumberOf(Combo1.Text());
    if (port == 0) {
        NMEA1.ClosePort();
        NMEA1.PortNumber = 0;
    } else if (port) {
        NMEA1.PortNumber = std::int16_t(*port);
    } else {
        restore.outsidePorts("GPS", Combo1.Text(), NMEA1.PortNumber);
    }
    if (NMEA1.PortNumber > 0) {
        NMEA1.BaudRate = 0;
        NMEA1.ClosePort();
        NMEA1.OpenPort();
    }
}

// A text outside the list keeps the port number the component had.
void OrvaneSetTime::chooseSerialPortAtStart(const StartupRestore& restore) {
    if (auto port = portNumberOf(Combo2.Text()); port && *port > 0)
        MSComm1.CommPort = std::int16_t(*port);
    else if (!port)
        restore.outsidePorts("SerialSync", Combo2.Text(), MSComm1.CommPort);
}

// ---- Tray, hide and exit ---------------------------------------------------------------

void OrvaneSetTime::trayClicked(TrayButton) {
    Visible(true);
    Timer1.Enabled(true);
}

void OrvaneSetTime::Command4_Click() {
    Timer1.Enabled(false);
    Visible(false);
}

void OrvaneSetTime::Command1_Click() {
    NMEA1.ClosePort();
    save("GPS", "COMPORT", Combo1.Text());
    shell_.removeTrayIcon(NotifyIconRecord);
    Form_Unload();
    shell_.quit();
}

void OrvaneSetTime::Form_Unload() {
    NMEA1.ClosePort();
    shell_.removeTrayIcon(NotifyIconRecord);
}

// ---- Auto-run ----------------------------------------------------------------------------

void OrvaneSetTime::AutoStart_Click() {
    module_.ConfigureAutoRun(AutoStart.Value() == 0 ? 0 : 2, "", "");
    save("GPS", "AutoStart", leadingBlank(AutoStart.Value()));
}

// ---- GPS port and date option ------------------------------------------------------------

void OrvaneSetTime::Combo1_Click() {
    const std::string gps = Combo1.Text();
    const std::string& serial = Combo2.Text();
    const int serialOn = Check2.Value();
    const bool accepted = gps != serial || (serial == kNone && serialOn == 1) || serialOn == 0;
    if (!accepted) {
        showCommError(portClash("gps port", gps, "serial sync"));
        Combo1.Text(kNone);
        save("GPS", "COMPORT", Combo1.Text());
        NMEA1.ClosePort();
        return;
    }
    NMEA1.PortNumber = 1;
    const int index = Combo1.ListIndex();
    if (index == 0) {
        NMEA1.ClosePort();
        NMEA1.PortNumber = 0;
    } else if (index >= 1 && index <= 8) {
        NMEA1.PortNumber = std::int16_t(index);
    }
    try {
        if (NMEA1.PortNumber > 0) {
            NMEA1.BaudRate = 0;
            NMEA1.ClosePort();
            NMEA1.OpenPort();
        }
        save("GPS", "COMPORT", gps);
    } catch (const Error& e) {
        showCommError("gps port: " + e.description());
    }
}

void OrvaneSetTime::Check3_Click() {
    save("GPS", "GPSdate", std::to_string(Check3.Value()));
}

// ---- Broadcast settings ------------------------------------------------------------------

// The address box and its caption are never shown again once start-up hid them.
void OrvaneSetTime::showUdpControls(bool show) {
    if (show) {
        UDPrate.Visible(true);
        Label9.Visible(true);
    } else {
        for (Control* c : std::initializer_list<Control*>{&UDPaddress, &UDPrate, &Label4, &Label9})
            c->Visible(false);
    }
}

void OrvaneSetTime::showSerialControls(bool show) {
    for (Control* c : std::initializer_list<Control*>{&SerialRate, &Label11, &Combo2, &Label10})
        c->Visible(show);
}

void OrvaneSetTime::Check1_Click() {
    showUdpControls(Check1.Value() == 1);
    save("UDP", "SendUDP", leadingBlank(Check1.Value()));
    events_.outputsSwitched(serialSyncOn(), udpSyncOn());
}

void OrvaneSetTime::Check2_Click() {
    const bool on = Check2.Value() == 1;
    showSerialControls(on);
    if (on) {
        if (!MSComm1.PortOpen() && Combo2.Text() != kNone) {
            try {
                MSComm1.PortOpen(true);
            } catch (const Error& e) {
                // The port stays closed and the box keeps the user's choice.
                showCommError(Combo2.Text() == Combo1.Text()
                                  ? portClash("serial sync", Combo2.Text(), "GPS receiver")
                                  : "serial sync: " + e.description());
            }
        }
    } else if (MSComm1.PortOpen()) {
        MSComm1.PortOpen(false);
    }
    save("SerialSync", "SendSync", leadingBlank(Check2.Value()));
    events_.outputsSwitched(serialSyncOn(), udpSyncOn());
}

void OrvaneSetTime::Check4_Click() {
    save("Analog", "BatterySave", leadingBlank(Check4.Value()));
    try {
        Check4.Value(strictNumber(setting("Analog", "BatterySave")));
    } catch (const Error&) {
        // A lost write reads back as nothing; the box keeps the user's choice.
    }
}

void OrvaneSetTime::Combo2_Click() {
    if (Combo2.Text() == Combo1.Text() && Combo2.Text() != kNone) {
        showCommError(portClash("serial sync", Combo2.Text(), "GPS receiver"));
        Combo2.Text(kNone);
        save("SerialSync", "COMPORT", Combo2.Text());
        if (MSComm1.PortOpen()) MSComm1.PortOpen(false);
        return;
    }
    if (MSComm1.PortOpen()) MSComm1.PortOpen(false);
    const int index = Combo2.ListIndex();
    if (index >= 1 && index <= 8) MSComm1.CommPort = std::int16_t(index);
    try {
        if (!MSComm1.PortOpen() && Combo2.Text() != kNone) MSComm1.PortOpen(true);
        save("SerialSync", "COMPORT", Combo2.Text());
    } catch (const Error& e) {
        showCommError("serial sync: " + e.description());
    }
}

void OrvaneSetTime::Option1_Click(int) {
    SyncUsesUTC = Option1[0].Value();
    save("SerialSync", "TimeUTC", Option1[0].Value() ? "True" : "False");
    save("SerialSync", "TimeLocal", Option1[1].Value() ? "True" : "False");
}

void OrvaneSetTime::SerialRate_Click() {
    save("SerialSync", "SerialRate", SerialRate.Text());
    if (int i = SerialRate.ListIndex(); i >= 0 && i <= 3) SerialRateCode = i;
}

void OrvaneSetTime::UDPrate_Click() {
    save("UDP", "UDPrate", UDPrate.Text());
    if (int i = UDPrate.ListIndex(); i >= 0 && i <= 3) UDPRateCode = i;
}

void OrvaneSetTime::UDPaddress_Change() {
    save("UDP", "UDPAddress", UDPaddress.Text());
    UDPBroadcast.RemoteHost = UDPaddress.Text();
}

// ---- GPS time and the PC clock -----------------------------------------------------------

void OrvaneSetTime::NMEA1_SentenceReceived(const NmeaSentence& sentence) {
    // Told before the clock may be set, so it is measured against the clock it came by.
    events_.sentenceReceived(sentence);
    if (!isRmcType(sentence.TypeID)) return;
    DateValue gps = 0, local = 0;
    try {
        gps = advancedGpsTime(sentence.UTCDateTime());
        txtGPStime.Text(formatGpsDisplay(gps));
        local = gpsToLocal(gps, clock_);
        txtLocalTime.Text(formatLocalDisplay(local));
        events_.gpsTimeShown(txtGPStime.Text(), txtLocalTime.Text());
    } catch (const Error& e) {
        // The displays keep what was written; the next sentence is handled afresh.
        events_.sentenceFailed(e);
        return;
    }
    // A sentence that waited in the port's buffer would set the clock by however long it did.
    if (!sentence.fresh) return;
    // chrony disciplines the clock from the samples; Tidewell never sets it then.
    if (refclock_.on())
        return refclock_.offer(sentence.UTCDateTime(), sentence.arrived, extended_.receiverDelay);
    if (!extended_.setsClock) return;
    try {
        std::optional<ClockUpdate::Precise> precise;
        if (const auto delay = extended_.preciseDelay)
            precise = ClockUpdate::Precise{sentence.UTCDateTime(), *delay, sentence.arrived};
        const ClockUpdate::Outcome outcome =
            clockUpdate_.apply(local, gps, Check3.Value(), precise);
        if (outcome.due) events_.clockSet(outcome, local);
    } catch (const Error& e) {
        events_.clockRefused(e, local);
    }
}

void OrvaneSetTime::Timer1_Timer() {
    txtPCtime.Text(formatPcDisplay(clock_.localNow()));
}

// ---- Broadcast ---------------------------------------------------------------------------

void OrvaneSetTime::SendUDP_Timer() {
    const BroadcastScheduler::Tick tick =
        scheduler_.tick({SerialRateCode, UDPRateCode, SyncUsesUTC, Check4.Value()});
    if (!tick.newSecond) return;
    outputs_.send(tick.frame, MSComm1.PortOpen() && Check2.Value() == 1 && tick.serialDue,
                  Check1.Value() == 1 && tick.udpDue);
}

}  // namespace tidewell
