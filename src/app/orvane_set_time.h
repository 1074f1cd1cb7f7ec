#pragma once
// The main window's model: its controls, its components, its window-level values and every
// handler. No widget types here; the Qt and Win32 windows mirror it.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "app/control_mirror.h"
#include "app/controls.h"
#include "app/extended_settings.h"
#include "app/frame_outputs.h"
#include "app/program_events.h"
#include "app/refclock_feed.h"
#include "broadcast/scheduler.h"
#include "devices/nmea_receiver.h"
#include "devices/serial_port.h"
#include "devices/udp_socket.h"
#include "gps/clock_update.h"
#include "platform/autorun.h"
#include "platform/notify_icon.h"
#include "platform/profile_store.h"
#include "platform/shell.h"
#include "platform/system_clock.h"
#include "settings/gps_module.h"

namespace tidewell {

// The sync frames' destination until the settings name another: every host on the network.
inline constexpr const char* kDefaultUdpAddress = "255.255.255.255";

enum class TrayButton { Left, Right, Double };

class OrvaneSetTime : private ControlObserver {
public:
    struct Platform {
        Shell& shell;
        ProfileStore& profile;
        AutoRun& autoRun;
        SystemClock& clock;
        std::string executable;  // the running program's full path, for auto-run
    };
    struct Components {
        NmeaReceiver& nmea;
        SerialPort& serial;
        UdpSocket& udp;
        RefclockSocket* refclock = nullptr;  // chrony's; none where the platform has no chrony
    };

    OrvaneSetTime(Platform platform, Components components, ProgramEvents& events,
                  std::string settingsFile);
    OrvaneSetTime(const OrvaneSetTime&) = delete;
    OrvaneSetTime& operator=(const OrvaneSetTime&) = delete;

    // The window itself.
    static constexpr const char* Caption = "Tidewell";
    static constexpr int ClientWidth = 5745;   // twips
    static constexpr int ClientHeight = 6705;  // twips
    bool Visible() const { return visible_; }
    void Visible(bool visible);

    // Windows hear every control change, in the order added.
    void addMirror(ControlMirror& mirror) { mirrors_.push_back(&mirror); }

    // Controls, in the window's top-to-bottom order.
    Label Label6;
    TextBox txtGPStime;
    TextBox txtLocalTime;
    ComboBox Combo1;
    Label Label7;
    Label Label1;
    CheckBox Check3;
    TextBox txtPCtime;
    Label Label8;
    Label Label3;
    LineShape Line1;
    Label Label12;
    std::array<OptionButton, 2> Option1;
    CheckBox Check1;
    CheckBox Check2;
    ComboBox SerialRate;
    ComboBox UDPrate;
    Label Label11;
    Label Label9;
    CheckBox Check4;
    TextBox UDPaddress;
    ComboBox Combo2;
    Label Label4;
    Label Label10;
    CheckBox AutoStart;
    CommandButton Command1;
    CommandButton Command4;
    Label Label5;
    Label Label2;

    // Non-visual components.
    SerialPort& MSComm1;
    Timer SendUDP;
    Timer Timer1;
    NmeaReceiver& NMEA1;
    UdpSocket& UDPBroadcast;

    // Window-level values.
    TrayIconRecord NotifyIconRecord;
    RateCode SerialRateCode;
    RateCode UDPRateCode;
    std::optional<bool> SyncUsesUTC;

    // Every on-screen control, for windows and tests.
    std::vector<Control*> controls();
    // Controls start-up hides for good (txtLocalTime, UDPaddress, Label4): no window shows them.
    bool neverShown(const Control& control) const;

    // Handlers.
    void Form_Load();
    void Form_Unload();
    // Left, right and double clicks on the tray icon restore the window.
    void trayClicked(TrayButton button);
    void Command1_Click();
    void Command4_Click();
    void AutoStart_Click();
    void Check1_Click();
    void Check2_Click();
    void Check3_Click();
    void Check4_Click();
    void Combo1_Click();
    void Combo2_Click();
    void Option1_Click(int index);
    void SerialRate_Click();
    void UDPrate_Click();
    void UDPaddress_Change();
    void NMEA1_SentenceReceived(const NmeaSentence& sentence);
    void SendUDP_Timer();
    void Timer1_Timer();

    // What the controls say, in the program's words.
    const std::string& gpsPort() const { return Combo1.Text(); }
    bool gpsPortWanted() const;
    bool usesGpsDate() const { return Check3.Value() == 1; }
    bool serialSyncOn() const { return Check2.Value() == 1; }
    const std::string& serialSyncPort() const { return Combo2.Text(); }
    bool serialSyncPortWanted() const;
    bool udpSyncOn() const { return Check1.Value() == 1; }
    const std::string& serialRate() const { return SerialRate.Text(); }
    const std::string& udpRate() const { return UDPrate.Text(); }
    bool framesInUtc() const { return SyncUsesUTC.value_or(false); }
    bool batterySave() const { return Check4.Value() != 0; }

    const ExtendedSettings& extended() const { return extended_; }
    RefclockFeed& refclock() { return refclock_; }
    const RefclockFeed& refclock() const { return refclock_; }
    const std::string& settingsFile() const { return settingsFile_; }
    std::uint64_t serialFailures() const { return outputs_.serialFailures(); }

private:
    std::string setting(std::string_view section, std::string_view key);
    void save(std::string_view section, std::string_view key, std::string_view value);
    void readAs(std::string_view section, std::string_view key, const std::string& text,
                const std::string& how);
    void showCommError(const std::string& why);
    static std::string portClash(const char* output, const std::string& port, const char* other);
    void showUdpControls(bool show);
    void showSerialControls(bool show);
    void openGpsPortAtStart(const class StartupRestore& restore);
    void chooseSerialPortAtStart(const class StartupRestore& restore);
    void useRefclock();
    void wireHandlers();
    void controlChanged(const Control& control) override;

    Shell& shell_;
    SystemClock& clock_;
    ProgramEvents& events_;
    GPSModule module_;
    std::string settingsFile_;
    ClockUpdate clockUpdate_;
    BroadcastScheduler scheduler_;
    FrameOutputs outputs_;
    ExtendedSettings extended_;
    RefclockFeed refclock_;
    bool visible_ = true;
    bool settingsNoteTold_ = false;
    std::vector<ControlMirror*> mirrors_;
};

}  // namespace tidewell
