#pragma once
// The GPS receiver on a POSIX tty (a serial device or a pseudo-terminal), driven by the
// caller's event loop: watch readFd() for input and call handleReadable().
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "devices/nmea_decode.h"
#include "devices/nmea_framer.h"
#include "devices/nmea_receiver.h"
#include "devices/reception_tally.h"

namespace tidewell {

class PosixNmeaReceiver : public NmeaReceiver {
public:
    // `devicePath` maps a port number (1..8) to its device, e.g. 3 -> "/dev/ttyS2"; an
    // empty path means the port does not exist. RMC dates outside `dates` are not delivered.
    PosixNmeaReceiver(std::function<std::string(int portNumber)> devicePath, DateWindow dates);
    ~PosixNmeaReceiver() override;
    PosixNmeaReceiver(const PosixNmeaReceiver&) = delete;
    PosixNmeaReceiver& operator=(const PosixNmeaReceiver&) = delete;

    // Closes any open port first. Takes the device for itself (a second opener gets
    // "Device or resource busy"), raw 8N1 at the BaudRate speed (0: the setting's, which
    // may be "auto"), and drops input that was waiting from before. A terminal or a FIFO only: a file is refused ("COM1
    // (rec.nmea) is not a serial device"). Error numbers are errno values.
    void OpenPort() override;
    void ClosePort() override;
    bool isOpen() const override { return fd_ >= 0; }
    bool deviceLost() const override { return deviceLost_; }
    NativeHandle readHandle() const override { return fd_; }
    int readFd() const { return fd_; }
    void handleReadable() override;
    // Raised for each framed line that is not delivered; the result says why.
    std::function<void(std::string_view line, const NmeaDecodeResult&)> SentenceRejected;

    ReceptionTally takeTally() override { return std::exchange(tally_, {}); }

private:
    void openDevice();
    void closeFd();

    std::function<std::string(int)> devicePath_;
    DateWindow dates_;
    ReceptionTally tally_;
    int fd_ = -1;
    // Changes on every open and close, so a handler that reopens the port stops the
    // delivery of lines read from the old one.
    std::uint64_t generation_ = 0;
    bool deviceLost_ = false;
};

}  // namespace tidewell
