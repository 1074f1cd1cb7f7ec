#pragma once
// The GPS receiver component: owns the GPS port, frames and checks NMEA-0183 sentences and
// raises SentenceReceived once per decoded sentence, on the event loop's thread.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "devices/line_speed.h"
#include "devices/nmea_decode.h"
#include "devices/nmea_framer.h"
#include "devices/nmea_sentence.h"
#include "devices/reception_tally.h"
#include "devices/sentence_freshness.h"
#include "devices/serial_line.h"
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
    // How long to leave the line alone after handleReadable, so that a sentence costs one
    // wake-up rather than one a byte: after a read that ended within a sentence, the time the
    // rest of the longest sentence takes at the line's speed. Zero between sentences, after a
    // read that brought nothing, and on a line that has brought bytes faster than its speed
    // (a USB receiver, a program on a pseudo-terminal): it hands over sentences at once.
    virtual std::chrono::nanoseconds restOfSentence() const { return {}; }

    // The line's speed now, and whether BAUD=auto is still looking for it.
    int lineBaud() const { return lineBaud_; }
    bool huntingSpeed() const { return hunt_ && !hunt_->found(); }

    std::function<void(const NmeaSentence&)> SentenceReceived;
    // Raised after the port opened or closed (also when it closed by itself; deviceLost()
    // tells which).
    std::function<void()> PortStateChanged;
    // Raised when "auto" has settled on a speed, once per open.
    std::function<void(int baud)> SpeedFound;
    // Raised when a fresh sentence follows `count` that came late (a backlog after a stall),
    // just before the fresh one is delivered.
    std::function<void(std::uint64_t count)> SentencesLate;

protected:
    struct TimedLine {
        std::string text;
        std::chrono::steady_clock::time_point firstByte;
    };
    // Frames one read's bytes into `lines`, each with when its '$' came: the read's last byte
    // at `readAt`, those before it one character time (10 bits at the line's speed) apart.
    void frame(std::string_view bytes, std::chrono::steady_clock::time_point readAt,
               std::vector<TimedLine>& lines);
    // What the rest of the unfinished line, if any, takes at the line's speed.
    std::chrono::nanoseconds restOfLine() const;
    // 10 bits at the line's speed.
    std::chrono::nanoseconds charTime() const;

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

// The receiver on a serial line of the machine (a tty, a FIFO, a COM port).
class PortNmeaReceiver : public NmeaReceiver {
public:
    // `devicePath` maps a port number (1..8) to its device, e.g. 3 -> "/dev/ttyS2"; an
    // empty path means the port does not exist. RMC dates outside `dates` are not delivered.
    PortNmeaReceiver(std::function<std::string(int portNumber)> devicePath, DateWindow dates);

    // Closes any open port first, then opens the device PortNumber names at the BaudRate
    // speed (0: the setting's, which may be "auto"), as SerialLine::open for Receive says. A
    // failed try to reopen a lost device leaves it lost, so it is tried again later.
    void OpenPort() override;
    void ClosePort() override;
    bool isOpen() const override { return line_.isOpen(); }
    bool deviceLost() const override { return deviceLost_; }
    NativeHandle readHandle() const override { return line_.readHandle(); }
    void handleReadable() override;
    ReceptionTally takeTally() override { return std::exchange(tally_, {}); }
    std::chrono::nanoseconds restOfSentence() const override {
        return paced_ && lastReadBrought_ ? restOfLine() : std::chrono::nanoseconds{};
    }

    // Raised for each framed line that is not delivered; the result says why.
    std::function<void(std::string_view line, const NmeaDecodeResult&)> SentenceRejected;

private:
    // Decodes and delivers the lines of one wake-up, stopping if a handler reopens or closes
    // the port; then closes the port as lost if the device has `gone`.
    void deliver(const std::vector<TimedLine>& lines, bool gone);
    // After a read of `bytes` at `now`: whether the line still brings them no faster than its
    // speed allows since the read before.
    void judgePace(std::size_t bytes, std::chrono::steady_clock::time_point now);

private:
    void close(bool lost);

    std::function<std::string(int)> devicePath_;
    DateWindow dates_;
    SerialLine line_;
    ReceptionTally tally_;
    SentenceFreshness freshness_;
    // Changes on every open and close, so a handler that reopens the port stops the
    // delivery of lines read from the old one.
    std::uint64_t generation_ = 0;
    bool deviceLost_ = false;
    bool lastReadBrought_ = false;
    bool paced_ = true;
    std::chrono::steady_clock::time_point lastRead_{};
};

}  // namespace tidewell
