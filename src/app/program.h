#pragma once
// The running program on any platform: the window model over its components, driven by the
// platform's event loop. It opens ports through the settings file's port map, watches the GPS
// port, ticks the broadcast once a second on the second, follows the display timer, opens
// unplugged ports again once they are back, and tells when the GPS gives no valid time.
#include <functional>
#include <memory>
#include <string>

#include "app/orvane_set_time.h"
#include "app/window_view.h"
#include "devices/nmea_decode.h"
#include "platform/event_loop.h"
#include "platform/profile_store.h"
#include "platform/time_service.h"

namespace tidewell {

// COMn's device: the settings file's [Ports] entry when there is one, read afresh at every
// open so a user can point a port at another device without restarting; else the platform's.
class PortMap {
public:
    PortMap(ProfileStore& profile, std::string settingsFile)
        : profile_(profile), settingsFile_(std::move(settingsFile)) {}
    std::string operator()(int port) const;
    // The GPS line's speed as [Ports] BAUD gives it ("", "9600", "auto"), read at every open;
    // "auto" for a text that names no speed.
    std::string lineSpeed() const;
    // The text as stored, for telling that it names no speed.
    std::string lineSpeedText() const;

private:
    ProfileStore& profile_;
    std::string settingsFile_;
};

// RMC dates a receiver may deliver: none before this build's own date (a receiver with the
// week-number rollover fault would set the PC back about twenty years), none beyond one
// week-number cycle after it.
DateWindow receiverDates();

class Program : private WindowView {
public:
    static constexpr int kReopenEverySeconds = 5;
    static constexpr int kReceptionReportSeconds = 60;
    static constexpr int kTimeServiceCheckMs = 3600 * 1000;

    // `timeServices`, when given, is asked at start and then hourly whether another program
    // keeps the PC clock; it must outlive the program.
    Program(OrvaneSetTime::Platform platform, OrvaneSetTime::Components components, EventLoop& loop,
            const PortMap& ports, std::string settingsFile, WindowView& view,
            TimeServiceProbe* timeServices = nullptr);
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Loads the window and starts the ticks.
    void start();
    // Ends the run as closing the window does: the port closes, the icon goes, nothing saved.
    void stop();

    OrvaneSetTime& window() { return window_; }

private:
    void watchGps();
    void secondTick();
    void retryPorts();
    // Opens one wanted port; a failure is told when its reason is new, an opening after one
    // always.
    void tryToOpen(const char* name, int port, std::string& toldReason,
                   const std::function<void()>& open, const char* opened);
    void checkTimeServices();
    void tellTimeService(const std::string& service);
    void timerChanged(const Timer& timer) override;

    OrvaneSetTime window_;
    EventLoop& loop_;
    const PortMap& ports_;
    WindowView& view_;
    NmeaReceiver& nmea_;
    SerialPort& serial_;
    Shell& shell_;
    TimeServiceProbe* timeServices_;
    EventLoop::Token gpsWatch_;
    EventLoop::Token secondTicker_;
    EventLoop::Token displayTicker_;
    EventLoop::Token timeServiceCheck_;
    bool started_ = false;
    bool timeServiceTold_ = false;
    int seconds_ = 0;
    int gpsOpenSeconds_ = 0;
    int gpsSpeedTold_ = 0;
    // Why each port last failed to open, as told; empty while it opens.
    std::string gpsFailure_, serialFailure_;
};

}  // namespace tidewell
