#include "devices/serial_line.h"

#include <windows.h>

#include <algorithm>

#include "devices/line_speed.h"
#include "platform/error.h"
#include "platform/text_win32.h"
#include "platform/windows_error_win32.h"

namespace tidewell {

namespace {

// A silent line completes the pending read empty this often, which tells whether the device is
// still there. Nothing reads a line opened to send; its timeout only has to be a valid one.
constexpr DWORD kReadTimeoutMs = 5000;
constexpr DWORD kSendReadTimeoutMs = 1000;
// Enough for a burst, yet the event loop gets control back under a flood.
constexpr int kMaxReadsPerCall = 64;

// An overlapped read or write, whose OVERLAPPED and bytes must stay until it has finished.
struct Transfer {
    OVERLAPPED overlapped{};
    bool pending = false;

    Transfer() { overlapped.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~Transfer() {
        if (overlapped.hEvent) ::CloseHandle(overlapped.hEvent);
    }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    OVERLAPPED* start() {
        const HANDLE event = overlapped.hEvent;
        overlapped = OVERLAPPED{};
        overlapped.hEvent = event;
        return &overlapped;
    }
    void cancel(HANDLE port) {
        if (!pending) return;
        DWORD n = 0;
        ::CancelIoEx(port, &overlapped);
        ::GetOverlappedResult(port, &overlapped, &n, TRUE);
        pending = false;
    }
};

// For overlapped I/O and for this program alone; a read returns what has come as soon as
// something has, or nothing after `readTimeoutMs` of silence.
HANDLE openComPort(const std::string& path, const std::string& label, DWORD baud,
                   DWORD readTimeoutMs) {
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

}  // namespace

struct SerialLine::Native {
    HANDLE port = INVALID_HANDLE_VALUE;
    std::string label;
    Transfer read;
    char buffer[4096];
    Transfer write;
    std::string sending;  // the bytes of the pending write

    // A read asks for what is waiting, or else for one byte: it then ends as soon as the line
    // brings something, also where a driver (or Wine) waits out the total timeout of the
    // COMMTIMEOUTS that mean "return at once" on Windows. Returns 0 or the error.
    DWORD startRead() {
        COMSTAT status{};
        DWORD lineErrors = 0;
        // Fails once the adapter has gone.
        if (!::ClearCommError(port, &lineErrors, &status)) return ::GetLastError();
        const DWORD want = std::clamp<DWORD>(status.cbInQue, 1, static_cast<DWORD>(sizeof buffer));
        // One that completes at once sets the event too, so every read ends in readWaiting.
        if (!::ReadFile(port, buffer, want, nullptr, read.start())) {
            const DWORD number = ::GetLastError();
            if (number != ERROR_IO_PENDING) return number;
        }
        read.pending = true;
        return 0;
    }
};

SerialLine::SerialLine() : native_(std::make_unique<Native>()) {}

SerialLine::~SerialLine() {
    close();
}

bool SerialLine::isOpen() const {
    return native_->port != INVALID_HANDLE_VALUE;
}

NativeHandle SerialLine::readHandle() const {
    return isOpen() ? reinterpret_cast<NativeHandle>(native_->read.overlapped.hEvent) : -1;
}

void SerialLine::open(const std::string& path, const std::string& label, int baud, Use use) {
    if (!supportedLineSpeed(baud))
        throw Error(errors::InvalidPropertyValue, label + ": unsupported baud rate");
    if (path.empty()) throw windowsError(ERROR_FILE_NOT_FOUND, "Opening " + label);
    const bool receive = use == Use::Receive;
    native_->port = openComPort(path, label, static_cast<DWORD>(baud),
                                receive ? kReadTimeoutMs : kSendReadTimeoutMs);
    native_->label = label;
    if (!receive) return;
    if (const DWORD number = native_->startRead(); number != 0) {
        close();
        throw windowsError(number, "Reading " + label);
    }
}

void SerialLine::close() {
    if (!isOpen()) return;
    native_->read.cancel(native_->port);
    native_->write.cancel(native_->port);
    ::CloseHandle(native_->port);
    native_->port = INVALID_HANDLE_VALUE;
    ::ResetEvent(native_->read.overlapped.hEvent);
}

bool SerialLine::setSpeed(int baud) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(native_->port, &dcb)) return false;
    dcb.BaudRate = static_cast<DWORD>(baud);
    return ::SetCommState(native_->port, &dcb);
}

SerialLine::ReadOutcome SerialLine::readWaiting(const std::function<void(std::string_view)>& take) {
    Native& line = *native_;
    if (!isOpen() || !line.read.pending) return ReadOutcome::Nothing;
    // The pending read holds one byte when the line was left alone for a while, and the rest
    // waits in the driver: the read started next takes it at once, in this same call.
    for (int reads = 0; reads < kMaxReadsPerCall; ++reads) {
        DWORD n = 0;
        if (!::GetOverlappedResult(line.port, &line.read.overlapped, &n, FALSE)) {
            if (::GetLastError() == ERROR_IO_INCOMPLETE)
                return reads > 0 ? ReadOutcome::Read : ReadOutcome::Nothing;
            // ERROR_OPERATION_ABORTED, ERROR_ACCESS_DENIED, ERROR_DEVICE_NOT_CONNECTED, ...
            // after an unplug: they would repeat.
            line.read.pending = false;
            return ReadOutcome::Gone;
        }
        line.read.pending = false;
        // Nothing after the timeout is a silent line; the next read tells whether the device
        // is still there.
        take(std::string_view(line.buffer, n));
        if (line.startRead() != 0) return ReadOutcome::Gone;
        if (n == 0) break;
    }
    return ReadOutcome::Read;
}

// One overlapped write at a time, so what the line takes goes out whole.
std::size_t SerialLine::write(std::string_view data) {
    Native& line = *native_;
    const auto fail = [&](DWORD number) {
        line.write.pending = false;
        return windowsError(number, "Writing " + line.label);
    };
    if (line.write.pending) {
        DWORD n = 0;
        if (!::GetOverlappedResult(line.port, &line.write.overlapped, &n, FALSE)) {
            const DWORD number = ::GetLastError();
            if (number == ERROR_IO_INCOMPLETE) return 0;
            throw fail(number);
        }
        line.write.pending = false;
    }
    line.sending.assign(data);
    // A write that finishes at once is collected at the next one all the same.
    if (!::WriteFile(line.port, line.sending.data(), static_cast<DWORD>(line.sending.size()),
                     nullptr, line.write.start())) {
        const DWORD number = ::GetLastError();
        if (number != ERROR_IO_PENDING) throw fail(number);
    }
    line.write.pending = true;
    return data.size();
}

}  // namespace tidewell
