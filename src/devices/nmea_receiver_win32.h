#pragma once
// The GPS receiver on a Windows COM port, driven by the caller's event loop: an overlapped
// read is always pending while the port is open, and readHandle() is its event.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "devices/nmea_decode.h"
#include "devices/nmea_framer.h"
#include "devices/nmea_receiver.h"
#include "devices/reception_tally.h"

namespace tidewell {

class WindowsNmeaReceiver : public NmeaReceiver {
public:
    // A silent line completes the pending read empty this often, which tells whether the
    // device is still there.
    static constexpr unsigned long kReadTimeoutMs = 5000;

    // `devicePath` maps a port number (1..8) to its device, e.g. 3 -> "\\.\COM3"; an empty
    // path means the port does not exist. RMC dates outside `dates` are not delivered.
    WindowsNmeaReceiver(std::function<std::string(int portNumber)> devicePath, DateWindow dates);
    ~WindowsNmeaReceiver() override;
    WindowsNmeaReceiver(const WindowsNmeaReceiver&) = delete;
    WindowsNmeaReceiver& operator=(const WindowsNmeaReceiver&) = delete;

    // Closes any open port first; then as openComPort at the BaudRate speed (0: the
    // setting's, which may be "auto").
    // Error numbers are GetLastError values, mapped by errors::fromSystem.
    void OpenPort() override;
    void ClosePort() override;
    bool isOpen() const override;
    bool deviceLost() const override { return deviceLost_; }
    // The manual-reset event of the pending read; -1 while closed.
    NativeHandle readHandle() const override;
    // Completes the read the event signalled, without waiting, starts the next one and raises
    // SentenceReceived per sentence. A failed read (an unplugged adapter) closes the port.
    void handleReadable() override;
    // Raised for each framed line that is not delivered; the result says why.
    std::function<void(std::string_view line, const NmeaDecodeResult&)> SentenceRejected;

    ReceptionTally takeTally() override { return std::exchange(tally_, {}); }

private:
    struct Read;

    void openDevice();
    void closeHandle();
    unsigned long startRead();

    std::function<std::string(int)> devicePath_;
    DateWindow dates_;
    ReceptionTally tally_;
    void* port_;
    std::unique_ptr<Read> read_;
    bool reading_ = false;
    // Changes on every open and close, so a handler that reopens the port stops the
    // delivery of lines read from the old one.
    std::uint64_t generation_ = 0;
    bool deviceLost_ = false;
};

}  // namespace tidewell
