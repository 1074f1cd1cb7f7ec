#include "devices/serial_port_win32.h"

#include <windows.h>

#include "devices/port_names.h"
#include "platform/windows_error_win32.h"
#include "platform/error.h"
#include "platform/text_win32.h"

namespace tidewell {

void* openComPort(const std::string& path, const std::string& label, unsigned long baud,
                  unsigned long readTimeoutMs) {
    HANDLE h = ::CreateFileW(win32::wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD number = ::GetLastError();
        // What Windows says about a port another program holds.
        if (number == ERROR_ACCESS_DENIED || number == ERROR_SHARING_VIOLATION) number = ERROR_BUSY;
        throw windowsError(number, "Opening " + label);
    }
    const auto fail = [&](DWORD number) {
        ::CloseHandle(h);
        return windowsError(number, "Opening " + label);
    };

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (::GetFileType(h) != FILE_TYPE_CHAR || !::GetCommState(h, &dcb)) {
        ::CloseHandle(h);
        throw Error(errors::fromSystem(ERROR_NOT_SUPPORTED), label + " is not a serial device");
    }
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    // Some receivers and line drivers take their power from DTR and RTS.
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    // Otherwise one framing error stops every later read until ClearCommError.
    dcb.fAbortOnError = FALSE;
    if (!::SetCommState(h, &dcb)) throw fail(::GetLastError());

    // MAXDWORD, MAXDWORD and a constant: a read returns as soon as a byte has come, or empty
    // after the constant.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = readTimeoutMs;
    // No write timeout: a write cut short would put a fragment on the line.
    if (!::SetCommTimeouts(h, &timeouts)) throw fail(::GetLastError());
    // Sentences queued before the open are stale times.
    ::PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
    return h;
}

struct WindowsSerialPort::Write {
    OVERLAPPED overlapped{};
    std::string data;  // must outlive the write
};

WindowsSerialPort::WindowsSerialPort(PathForPort pathFor)
    : pathFor_(std::move(pathFor)), port_(INVALID_HANDLE_VALUE), write_(std::make_unique<Write>()) {
    write_->overlapped.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

WindowsSerialPort::~WindowsSerialPort() {
    close();
    if (write_->overlapped.hEvent) ::CloseHandle(write_->overlapped.hEvent);
}

bool WindowsSerialPort::PortOpen() const {
    return port_ != INVALID_HANDLE_VALUE;
}

void WindowsSerialPort::PortOpen(bool open) {
    // Whatever the user now asks for replaces the wait for a lost device to come back.
    deviceLost_ = false;
    if (open == PortOpen()) return;
    open ? this->open() : close();
}

void WindowsSerialPort::reopenLost() {
    if (!deviceLost_ || PortOpen()) return;
    open();
    deviceLost_ = false;
}

void WindowsSerialPort::open() {
    const std::string path = pathFor_ ? pathFor_(CommPort) : defaultDevicePath(CommPort);
    const std::string label = portLabel(CommPort, path);
    if (path.empty()) throw windowsError(ERROR_FILE_NOT_FOUND, "Opening " + label);
    // Nothing reads this port; the timeout only has to be a valid one.
    port_ = openComPort(path, label, CBR_9600, 1000);
    label_ = label;
}

void WindowsSerialPort::close() {
    if (!PortOpen()) return;
    if (writing_) {
        // The OVERLAPPED and the bytes must stay until the cancelled write has finished.
        DWORD n = 0;
        ::CancelIoEx(port_, &write_->overlapped);
        ::GetOverlappedResult(port_, &write_->overlapped, &n, TRUE);
        writing_ = false;
    }
    ::CloseHandle(port_);
    port_ = INVALID_HANDLE_VALUE;
}

void WindowsSerialPort::Output(std::string_view data) {
    if (!PortOpen())
        throw Error(errors::PortClosed,
                    "Writing COM" + std::to_string(CommPort) + ": the port is not open");
    if (data.empty()) return;

    const auto fail = [&](DWORD number) {
        const std::string label = label_;
        writing_ = false;
        close();
        deviceLost_ = true;
        return windowsError(number, "Writing " + label);
    };
    OVERLAPPED& overlapped = write_->overlapped;
    if (writing_) {
        DWORD n = 0;
        if (!::GetOverlappedResult(port_, &overlapped, &n, FALSE)) {
            const DWORD number = ::GetLastError();
            // Waiting would hold up the clock and GPS handling.
            if (number == ERROR_IO_INCOMPLETE) {
                ++dropped_;
                return;
            }
            throw fail(number);
        }
        writing_ = false;
    }

    write_->data.assign(data);
    const HANDLE event = overlapped.hEvent;
    overlapped = OVERLAPPED{};
    overlapped.hEvent = event;
    // A write that finishes at once is collected at the next frame all the same.
    if (!::WriteFile(port_, write_->data.data(), static_cast<DWORD>(write_->data.size()), nullptr,
                     &overlapped)) {
        const DWORD number = ::GetLastError();
        if (number != ERROR_IO_PENDING) throw fail(number);
    }
    writing_ = true;
}

}  // namespace tidewell
