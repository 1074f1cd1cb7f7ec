#pragma once
// The GPS receiver on a Windows COM port, driven by the caller's event loop: an overlapped
// read is always pending while the port is open, and readHandle() is its event.
#include <memory>
#include <string>

#include "devices/nmea_receiver.h"

namespace tidewell {

class WindowsNmeaReceiver : public PortNmeaReceiver {
public:
    // A silent line completes the pending read empty this often, which tells whether the
    // device is still there.
    static constexpr unsigned long kReadTimeoutMs = 5000;

    // Device paths as "\\.\COM3".
    WindowsNmeaReceiver(std::function<std::string(int portNumber)> devicePath, DateWindow dates);
    ~WindowsNmeaReceiver() override;
    WindowsNmeaReceiver(const WindowsNmeaReceiver&) = delete;
    WindowsNmeaReceiver& operator=(const WindowsNmeaReceiver&) = delete;

    bool isOpen() const override;
    // The manual-reset event of the pending read; -1 while closed.
    NativeHandle readHandle() const override;
    // Completes the read the event signalled, without waiting, starts the next one and raises
    // SentenceReceived per sentence. A failed read (an unplugged adapter) closes the port.
    void handleReadable() override;

private:
    struct Read;

    // As openComPort. Error numbers are GetLastError values, mapped by errors::fromSystem.
    void openDevice(const std::string& path, const std::string& label, int baud) override;
    void closeDevice() override;
    unsigned long startRead();

    void* port_;
    std::unique_ptr<Read> read_;
    bool reading_ = false;
};

}  // namespace tidewell
