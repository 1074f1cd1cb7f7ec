#pragma once
// The running program on any platform: the window model over its components, driven by the
// platform's event loop. It opens ports through the settings file's port map, watches the GPS
// port, ticks the broadcast once a second on the second, runs the display timer while it is
// enabled, tries every wanted port until it opens, and tells when the GPS gives no valid time.
#include <functional>
#include <memory>
#include <string>

#include "app/extended_settings.h"
#include "app/orvane_set_time.h"
#include "app/program_events.h"
#include "app/valid_time_watch.h"
#include "devices/reception_tally.h"
#include "devices/receiver_watch.h"
#include "platform/event_loop.h"
#include "platform/time_service.h"

namespace tidewell {

class Program {
public:
    static constexpr int kReopenEverySeconds = 5;
    static constexpr int kReceptionReportSeconds = 60;
    static constexpr int kTimeServiceCheckMs = 3600 * 1000;
    static constexpr int kRefclockRetrySeconds = 60;

    // `timeServices`, when given, is asked at start and then hourly whether another program
    // keeps the PC clock; it must outlive the program.
    Program(OrvaneSetTime::Platform platform, OrvaneSetTime::Components components, EventLoop& loop,
            const PortMap& ports, std::string settingsFile,
            TimeServiceProbe* timeServices = nullptr);
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Who hears the program's events; add them before start().
    ProgramEventHub& events() { return events_; }

    // Loads the window and starts the ticks.
    void start();
    // Ends the run as closing the window does: the port closes, the icon goes, nothing saved.
    void stop();

    OrvaneSetTime& window() { return window_; }

private:
    void secondTick();
    void retryPorts();
    // Opens one wanted port; a failure is told when its reason is new, an opening after one
    // always.
    void tryToOpen(PortRole role, int port, std::string& toldReason,
                   const std::function<void()>& open);
    void checkTimeServices();
    void followDisplayTimer();

    ProgramEventHub events_;
    ValidTimeWatch validTime_;
    OrvaneSetTime window_;
    EventLoop& loop_;
    const PortMap& ports_;
    NmeaReceiver& nmea_;
    SerialPort& serial_;
    TimeServiceProbe* timeServices_;
    ReceiverWatch gpsWatch_;
    EventLoop::Token secondTicker_;
    EventLoop::Token displayTicker_;
    EventLoop::Token timeServiceCheck_;
    bool started_ = false;
    bool timeServiceTold_ = false;
    int seconds_ = 0;
    int gpsOpenSeconds_ = 0;
    int gpsSpeedTold_ = 0;
    ReceptionTally minuteTally_;
    // Why each port last failed to open, as told; empty while it opens.
    std::string gpsFailure_, serialFailure_;
};

}  // namespace tidewell
