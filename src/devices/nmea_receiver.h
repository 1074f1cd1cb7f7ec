#pragma once
// The GPS receiver component: owns the GPS port, frames and checks NMEA-0183 sentences and
// raises SentenceReceived once per decoded sentence, on the event loop's thread.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "devices/line_speed.h"
#include "devices/nmea_framer.h"
#include "devices/nmea_sentence.h"
#include "devices/reception_tally.h"
#include "platform/event_loop.h"

namespace tidewell {

class NmeaReceiver {
public:
    virtual ~NmeaReceiver() = default;

    // 0 = no port, 1..8 = COM1..COM8.
    std::int16_t PortNumber = 0;
    // 0 selects the speed lineSpeedSetting names (4800 without it); else that speed in baud.
    std::int16_t BaudRate = 0;
    // Read at each open while BaudRate is 0: the text parseLineSpeed takes ("", "9600", "auto").
    std::function<std::string()> lineSpeedSetting;

    // Opens the port PortNumber names. Throws Error ("COM3 (/dev/ttyS2): No such file or
    // directory") when the device is missing, busy or refuses.
    virtual void OpenPort() = 0;
    // Closes the port; does nothing when none is open. Never throws.
    virtual void ClosePort() = 0;
    virtual bool isOpen() const = 0;
    // True after the device went away by itself (unplugged), until the next open or close:
    // the port the user chose should be open, and opening it again may succeed.
    virtual bool deviceLost() const = 0;

    // The handle the event loop watches for input; -1 while closed.
    virtual NativeHandle readHandle() const = 0;
    // Reads what is waiting, without blocking, and raises SentenceReceived for each delivered
    // sentence. When the device has gone (hang-up, unplugged) the port closes.
    virtual void handleReadable() = 0;
    // What came since the port opened or the last call, and starts a new count.
    virtual ReceptionTally takeTally() = 0;

    std::function<void(const NmeaSentence&)> SentenceReceived;
    // Raised after the port opened or closed (also when it closed by itself).
    std::function<void()> PortStateChanged;
    // Raised when "auto" has settled on a speed, once per open.
    std::function<void(int baud)> SpeedFound;

protected:
    struct TimedLine {
        std::string text;
        std::chrono::steady_clock::time_point firstByte;
    };
    // Frames one read's bytes into `lines`, each with when its '$' came: the read's last byte
    // at `readAt`, those before it one character time (10 bits at the line's speed) apart.
    void frame(std::string_view bytes, std::chrono::steady_clock::time_point readAt,
               std::vector<TimedLine>& lines);

    // The speed to open at, and the hunt when it is "auto". Throws Error ("COM3: unsupported
    // baud rate 1234") for a speed the receiver cannot set.
    int openingSpeed(const std::string& port);
    // After a read: feeds the hunt. True when the line must move to hunt_.speed().
    bool huntStep(const std::vector<TimedLine>& lines);

    std::optional<SpeedHunt> hunt_;
    NmeaFramer framer_;

private:
    int lineBaud_ = 4800;
    std::chrono::steady_clock::time_point lineStart_{};
};

}  // namespace tidewell
