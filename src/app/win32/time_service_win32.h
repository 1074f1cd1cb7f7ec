#pragma once
// The Windows Time service (W32Time) as the Service Control Manager sees it.
#include <windows.h>

#include "platform/time_service.h"

namespace tidewell {

// The Service Control Manager's calls, replaceable so tests can play any service state.
struct ServiceControlApi {
    SC_HANDLE(WINAPI* openSCManagerW)(LPCWSTR, LPCWSTR, DWORD);
    SC_HANDLE(WINAPI* openServiceW)(SC_HANDLE, LPCWSTR, DWORD);
    BOOL(WINAPI* queryServiceStatus)(SC_HANDLE, LPSERVICE_STATUS);
    BOOL(WINAPI* closeServiceHandle)(SC_HANDLE);

    static ServiceControlApi real();
};

// Answers at once: the manager is local and asks nothing of the network. A service that is
// starting, running or resuming counts; stopped, paused, missing or not readable does not.
class Win32TimeServiceProbe : public TimeServiceProbe {
public:
    static constexpr const char* kName = "Windows Time (W32Time)";

    explicit Win32TimeServiceProbe(const ServiceControlApi& api = ServiceControlApi::real())
        : api_(api) {}
    void probe(Done done) override;

private:
    ServiceControlApi api_;
};

}  // namespace tidewell
