#include "app/win32/time_service_win32.h"

namespace tidewell {

ServiceControlApi ServiceControlApi::real() {
    return {::OpenSCManagerW, ::OpenServiceW, ::QueryServiceStatus, ::CloseServiceHandle};
}

void Win32TimeServiceProbe::probe(Done done) {
    bool active = false;
    if (SC_HANDLE manager = api_.openSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)) {
        if (SC_HANDLE service = api_.openServiceW(manager, L"W32Time", SERVICE_QUERY_STATUS)) {
            SERVICE_STATUS status{};
            if (api_.queryServiceStatus(service, &status))
                active = status.dwCurrentState == SERVICE_RUNNING ||
                         status.dwCurrentState == SERVICE_START_PENDING ||
                         status.dwCurrentState == SERVICE_CONTINUE_PENDING;
            api_.closeServiceHandle(service);
        }
        api_.closeServiceHandle(manager);
    }
    done(active ? std::optional<std::string>(kName) : std::nullopt);
}

}  // namespace tidewell
