#pragma once
// The main window's model: its controls, its components, its window-level values and every
// handler. No widget types here; the Qt and Win32 views bind to this.
#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "app/controls.h"
#include "app/window_view.h"
#include "broadcast/scheduler.h"
#include "devices/nmea_receiver.h"
#include "devices/serial_port.h"
#include "devices/udp_socket.h"
#include "gps/clock_update.h"
#include "platform/error.h"
#include "platform/notify_icon.h"
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
    };
    struct Components {
        NmeaReceiver& nmea;
        SerialPort& serial;
        UdpSocket& udp;
    };

    OrvaneSetTime(Platform platform, Components components, std::string settingsFile);
    OrvaneSetTime(const OrvaneSetTime&) = delete;
    OrvaneSetTime& operator=(const OrvaneSetTime&) = delete;

    // The window itself.
    static constexpr const char* Caption = "Tidewell";
    static constexpr int ClientWidth = 5745;   // twips
    static constexpr int ClientHeight = 6705;  // twips
    bool Visible() const { return visible_; }
    void Visible(bool visible);
    // Twips per screen pixel: the tray's event code arrives in X, in twips.
    double twipsPerPixel = 15.0;
    // Whether a refused clock change, or another program keeping the clock, also opens a
    // message box (once per run).
    bool reportClockRefusalInMessageBox = true;
    // False when the settings say SETCLOCK=0 under [GPS]: a PC that takes its time from
    // elsewhere only shows it and feeds the displays.
    bool setsClock() const { return setsClock_; }
    // PRECISE=1 under [GPS]: the receiver's delay (DELAYMS) that precise setting adds; empty
    // when the clock is set in whole seconds.
    std::optional<std::chrono::milliseconds> preciseDelay() const {
        return setsPrecisely_ ? std::optional(receiverDelay_) : std::nullopt;
    }

    // Views hear every control and timer change and every event, in the order added.
    void addView(WindowView& view) { views_.push_back(&view); }

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

    // Every on-screen control, for views and tests.
    std::vector<Control*> controls();

    // Handlers.
    void Form_Load();
    void Form_Unload();
    // The tray icon's callback as Windows delivers it: the mouse event's code in X.
    void Form_MouseMove(int button, int shift, double x, double y);
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

    const std::string& settingsFile() const { return settingsFile_; }
    std::uint64_t serialFailures() const { return serialFailures_; }

private:
    std::string setting(std::string_view section, std::string_view key);
    void save(std::string_view section, std::string_view key, std::string_view value);
    void readAs(std::string_view section, std::string_view key, const std::string& text,
                const std::string& how);
    void showCommError(const std::string& why);
    static std::string portClash(const char* output, const std::string& port, const char* other);
    void showUdpControls(bool show);
    void showSerialControls(bool show);
    void wireHandlers();
    template <class Event> void tellViews(Event&& event) {
        for (WindowView* view : views_) event(*view);
    }
    void controlChanged(const Control& control) override;
    void timerChanged(const Timer& timer) override;

    Shell& shell_;
    SystemClock& clock_;
    GPSModule module_;
    std::string settingsFile_;
    ClockUpdate clockUpdate_;
    BroadcastScheduler scheduler_;
    bool visible_ = true;
    bool udpErrorOpen_ = false;
    bool clockRefusalShown_ = false;
    bool settingsBoxShown_ = false;
    bool settingsNoteTold_ = false;
    bool setsClock_ = true;
    // PRECISE and DELAYMS under [GPS].
    bool setsPrecisely_ = false;
    std::chrono::milliseconds receiverDelay_{0};
    std::uint64_t serialFailures_ = 0;
    std::vector<WindowView*> views_;
};

// Helpers the handlers share, exposed for tests.
namespace window_text {
// "None" -> 0, "COM1".."COM8" -> 1..8 (exact, case-sensitive); empty otherwise.
std::optional<int> portNumberOf(std::string_view text);
// "once per second" -> 0 ... "once per day" -> 3 (exact); empty otherwise.
RateCode rateCodeOf(std::string_view text);
// A check state as stored with a blank in the sign position: " 0", " 1", "-1".
std::string leadingBlank(int value);
}  // namespace window_text

}  // namespace tidewell
