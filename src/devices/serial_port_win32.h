#pragma once
// The serial sync output on a Windows COM port: 9600 baud 8N1, held for this program alone,
// written with overlapped I/O so the event loop never waits for the line.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "devices/serial_port.h"

namespace tidewell {

// Opens a COM port for overlapped I/O and for this program alone, raw 8N1 at `baud` without
// flow control, input that was waiting dropped. A read returns what has come as soon as
// something has, or nothing after `readTimeoutMs` of silence. Returns the HANDLE; throws
// "Opening COM3 (\\.\COM3): The system cannot find the file specified." A port another
// program holds fails with ERROR_BUSY, a file or device that is no serial port with
// "COM1 (C:\rec.nmea) is not a serial device".
void* openComPort(const std::string& path, const std::string& label, unsigned long baud,
                  unsigned long readTimeoutMs);

class WindowsSerialPort : public SerialPort {
public:
    // Maps CommPort (1..8) to the device to open, e.g. devicePathFor with the user's overrides.
    using PathForPort = std::function<std::string(int)>;

    explicit WindowsSerialPort(PathForPort pathFor);
    ~WindowsSerialPort() override;
    WindowsSerialPort(const WindowsSerialPort&) = delete;
    WindowsSerialPort& operator=(const WindowsSerialPort&) = delete;

    bool PortOpen() const override;
    void PortOpen(bool open) override;
    bool deviceLost() const override { return deviceLost_; }
    void reopenLost() override;
    // One overlapped write per frame, so a frame goes out whole: while the last one is still
    // on its way the new one is dropped and counted. A failed write (an unplugged adapter)
    // closes the port and throws "Writing COM3 (\\.\COM3): ...".
    void Output(std::string_view data) override;
    std::uint64_t droppedWrites() const override { return dropped_; }

private:
    struct Write;

    void open();
    void close();

    PathForPort pathFor_;
    void* port_;
    std::unique_ptr<Write> write_;
    bool writing_ = false;
    std::string label_;
    std::uint64_t dropped_ = 0;
    bool deviceLost_ = false;
};

}  // namespace tidewell
