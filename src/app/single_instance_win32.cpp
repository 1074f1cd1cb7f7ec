#include <windows.h>

#include "app/single_instance.h"
#include "platform/text_win32.h"

namespace tidewell {

// A named mutex in the session's namespace, per user; the window of its holder listens for a
// registered message of the same name.
struct InstanceLock::Impl {
    HANDLE mutex = nullptr;
    bool held = false;
    std::wstring name;
};

InstanceLock::InstanceLock(const std::string& settingsFile) : impl_(std::make_unique<Impl>()) {
    impl_->name = win32::wide(instanceName(settingsFile));
    impl_->mutex = ::CreateMutexW(nullptr, FALSE, (L"Local\\" + impl_->name).c_str());
    impl_->held = !impl_->mutex || ::GetLastError() != ERROR_ALREADY_EXISTS;
}

InstanceLock::~InstanceLock() {
    if (impl_->mutex) ::CloseHandle(impl_->mutex);
}

bool InstanceLock::held() const {
    return impl_->held;
}

long InstanceLock::holderPid() const {
    return 0;
}

void InstanceLock::recordStatusPlace(const std::string&) {}

// Every top-level window hears it; only the holder's knows the name.
bool InstanceLock::showHolder() const {
    if (impl_->held) return false;
    return ::PostMessageW(HWND_BROADCAST, ::RegisterWindowMessageW(showMessage().c_str()), 0, 0);
}

std::wstring InstanceLock::showMessage() const {
    return L"Tidewell.Show." + impl_->name;
}

}  // namespace tidewell
