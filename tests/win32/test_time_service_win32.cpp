#include <gtest/gtest.h>

#include <string>

#include "app/win32/time_service_win32.h"

namespace tidewell {
namespace {

TEST(Win32TimeService, ARunningOrStartingW32TimeCountsAndEveryHandleIsClosed) {
    static DWORD state;
    static int open;  // handles not closed yet
    Win32TimeServiceProbe probe(
        {[](LPCWSTR, LPCWSTR, DWORD) { return ++open, SC_HANDLE(1); },
         [](SC_HANDLE, LPCWSTR name, DWORD) {
             return std::wstring(name) == L"W32Time" ? (++open, SC_HANDLE(2)) : nullptr;
         },
         [](SC_HANDLE, LPSERVICE_STATUS s) { return s->dwCurrentState = state, TRUE; },
         [](SC_HANDLE) { return --open, TRUE; }});
    for (DWORD s : {SERVICE_RUNNING, SERVICE_START_PENDING, SERVICE_STOPPED, SERVICE_PAUSED}) {
        state = s;
        std::optional<std::string> found = "no answer";
        probe.probe([&](std::optional<std::string> service) { found = service; });
        EXPECT_EQ(found.has_value(), s == SERVICE_RUNNING || s == SERVICE_START_PENDING) << s;
        EXPECT_EQ(open, 0) << s;
    }
}

}  // namespace
}  // namespace tidewell
