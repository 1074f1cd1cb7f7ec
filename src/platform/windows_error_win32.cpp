#include "platform/windows_error_win32.h"

#include <winsock2.h>

#include <windows.h>

#include "platform/text_win32.h"

namespace tidewell {

namespace {

// Windows' own words for the Winsock errors a send or a lookup meets, for systems whose
// message table lacks them (Wine).
const char* winsockText(unsigned long number) {
    switch (number) {
    case WSAEACCES:
        return "An attempt was made to access a socket in a way forbidden by its access "
               "permissions.";
    case WSAEWOULDBLOCK:
        return "A non-blocking socket operation could not be completed immediately.";
    case WSAEADDRINUSE:
        return "Only one usage of each socket address (protocol/network address/port) is "
               "normally permitted.";
    case WSAEADDRNOTAVAIL:
        return "The requested address is not valid in its context.";
    case WSAENETDOWN:
        return "A socket operation encountered a dead network.";
    case WSAENETUNREACH:
        return "A socket operation was attempted to an unreachable network.";
    case WSAENOBUFS:
        return "An operation on a socket could not be performed because the system lacked "
               "sufficient buffer space or because a queue was full.";
    case WSAEHOSTUNREACH:
        return "A socket operation was attempted to an unreachable host.";
    case WSAHOST_NOT_FOUND:
        return "No such host is known.";
    case WSATRY_AGAIN:
        return "This is usually a temporary error during hostname resolution and means that "
               "the local server did not receive a response from an authoritative server.";
    case WSANO_DATA:
        return "The requested name is valid, but no data of the requested type was found.";
    default:
        return nullptr;
    }
}

}  // namespace

std::string windowsErrorText(unsigned long number) {
    wchar_t buffer[512];
    DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                               number, 0, buffer, 512, nullptr);
    while (n > 0 && (buffer[n - 1] == L'\r' || buffer[n - 1] == L'\n' || buffer[n - 1] == L' '))
        --n;
    if (n > 0) return win32::utf8(std::wstring_view(buffer, n));
    if (const char* text = winsockText(number)) return text;
    return "system error " + std::to_string(number);
}

Error windowsError(unsigned long number, const std::string& what) {
    return Error(errors::fromSystem(static_cast<int>(number)),
                 what + ": " + windowsErrorText(number));
}

}  // namespace tidewell
