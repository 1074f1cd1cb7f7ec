#pragma once
// A serial line of this machine (a tty or pseudo-terminal, a COM port), as the receiver and the
// serial sync output both use it: raw 8N1 without flow control, held for this program alone,
// read and written without ever blocking the event loop. DTR and RTS are up while it is open,
// as some receivers and line drivers take their power from them; a setter for them would go
// here. Error numbers are the platform's (errno, GetLastError) as errors::fromSystem maps them.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/event_loop.h"

namespace tidewell {

class SerialLine {
public:
    // Receive: input waiting from before the open is dropped (stale times), reads go on in the
    // background on Windows, and a FIFO is taken too on POSIX. Send: only written.
    enum class Use { Receive, Send };

    SerialLine();
    ~SerialLine();
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    // Opens `path` at `baud` while none is open; `label` names it in errors: "Opening COM3
    // (/dev/ttyS2): Permission denied"; a line another program holds fails busy (EBUSY,
    // ERROR_BUSY). "COM3 (/dev/ttyS2): unsupported baud rate" for a speed the line cannot take.
    // For Receive a file is refused as "COM1 (rec.nmea) is not a serial device", as its end
    // would look like an unplug and every reopen would replay its old times; on Windows so is
    // anything that is not a COM port, whatever the use.
    void open(const std::string& path, const std::string& label, int baud, Use use);
    // Does nothing when none is open; waits for a write or read under way to be cancelled.
    void close();
    bool isOpen() const;
    // What the event loop watches for input: the descriptor, or the event of the pending read
    // on Windows; -1 while closed.
    NativeHandle readHandle() const;
    // Moves the open line to `baud`; false when it cannot.
    bool setSpeed(int baud);

    enum class ReadOutcome {
        Nothing,  // a wake-up with no read behind it (Windows: the read is still under way)
        Read,     // what came, if anything, went to `take`
        Gone,     // the device went away (hang-up, unplug): reading again would only repeat it
    };
    // Hands what is waiting to `take`, a piece per read, each right after its read, without
    // waiting for more.
    ReadOutcome readWaiting(const std::function<void(std::string_view)>& take);

    // Writes without waiting; returns how much of `data` the line took: on POSIX what the
    // buffer had room for, on Windows all of it (the write finishing in the background) or
    // nothing while the last one is still on its way. Throws Error on a device failure ("Writing
    // COM3 (/dev/ttyS2): Input/output error"), leaving the line open.
    std::size_t write(std::string_view data);

private:
    struct Native;
    std::unique_ptr<Native> native_;
};

}  // namespace tidewell
