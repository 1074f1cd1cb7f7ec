#include "devices/nmea_receiver_win32.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "devices/serial_port_win32.h"
#include "platform/error.h"
#include "platform/windows_error_win32.h"

namespace tidewell {

namespace {

std::optional<DWORD> speedOf(int baud) {
    if (!supportedLineSpeed(baud)) return std::nullopt;
    return static_cast<DWORD>(baud);
}

}  // namespace

struct WindowsNmeaReceiver::Read {
    OVERLAPPED overlapped{};
    char buffer[4096];
};

WindowsNmeaReceiver::WindowsNmeaReceiver(std::function<std::string(int)> devicePath,
                                         DateWindow dates)
    : PortNmeaReceiver(std::move(devicePath), dates), port_(INVALID_HANDLE_VALUE),
      read_(std::make_unique<Read>()) {
    read_->overlapped.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

WindowsNmeaReceiver::~WindowsNmeaReceiver() {
    closeDevice();
    if (read_->overlapped.hEvent) ::CloseHandle(read_->overlapped.hEvent);
}

bool WindowsNmeaReceiver::isOpen() const {
    return port_ != INVALID_HANDLE_VALUE;
}

NativeHandle WindowsNmeaReceiver::readHandle() const {
    return isOpen() ? reinterpret_cast<NativeHandle>(read_->overlapped.hEvent) : -1;
}

void WindowsNmeaReceiver::openDevice(const std::string& path, const std::string& label, int baud) {
    const auto speed = speedOf(baud);
    if (!speed) throw Error(errors::InvalidPropertyValue, label + ": unsupported baud rate");
    port_ = openComPort(path, label, *speed, kReadTimeoutMs);
    if (const DWORD number = startRead(); number != 0) {
        closeDevice();
        throw windowsError(number, "Reading " + label);
    }
}

// A read asks for what is waiting, or else for one byte: it then ends as soon as the line
// brings something, also where a driver (or Wine) waits out the total timeout of the
// COMMTIMEOUTS that mean "return at once" on Windows.
unsigned long WindowsNmeaReceiver::startRead() {
    COMSTAT status{};
    DWORD lineErrors = 0;
    // Fails once the adapter has gone.
    if (!::ClearCommError(port_, &lineErrors, &status)) return ::GetLastError();
    const DWORD want =
        std::clamp<DWORD>(status.cbInQue, 1, static_cast<DWORD>(sizeof read_->buffer));

    OVERLAPPED& overlapped = read_->overlapped;
    const HANDLE event = overlapped.hEvent;
    overlapped = OVERLAPPED{};
    overlapped.hEvent = event;
    // One that completes at once sets the event too, so every read ends in handleReadable.
    if (!::ReadFile(port_, read_->buffer, want, nullptr, &overlapped)) {
        const DWORD number = ::GetLastError();
        if (number != ERROR_IO_PENDING) return number;
    }
    reading_ = true;
    return 0;
}

void WindowsNmeaReceiver::closeDevice() {
    if (!isOpen()) return;
    if (reading_) {
        // The OVERLAPPED and the buffer must stay until the cancelled read has finished.
        DWORD n = 0;
        ::CancelIoEx(port_, &read_->overlapped);
        ::GetOverlappedResult(port_, &read_->overlapped, &n, TRUE);
        reading_ = false;
    }
    ::CloseHandle(port_);
    port_ = INVALID_HANDLE_VALUE;
    ::ResetEvent(read_->overlapped.hEvent);
}

void WindowsNmeaReceiver::handleReadable() {
    if (!isOpen() || !reading_) return;
    std::vector<TimedLine> lines;
    bool gone = false;

    DWORD n = 0;
    if (::GetOverlappedResult(port_, &read_->overlapped, &n, FALSE)) {
        reading_ = false;
        // Nothing after the timeout is a silent line; the next read tells whether the device
        // is still there.
        received(std::string_view(read_->buffer, n), lines);
        gone = startRead() != 0;
    } else if (::GetLastError() == ERROR_IO_INCOMPLETE) {
        return;
    } else {
        // ERROR_OPERATION_ABORTED, ERROR_ACCESS_DENIED, ERROR_DEVICE_NOT_CONNECTED, ... after
        // an unplug: they would repeat.
        reading_ = false;
        gone = true;
    }

    // Bytes already waiting came at the old speed; they fail their checksums like any noise.
    if (!gone && huntStep(lines)) {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (::GetCommState(port_, &dcb)) {
            dcb.BaudRate = static_cast<DWORD>(hunt_->speed());
            ::SetCommState(port_, &dcb);
        }
    }
    deliver(lines, gone);
}

}  // namespace tidewell
