#pragma once
// One copy of the program a settings file and user. The first start holds a lock named for
// its settings file; a later start with the same file finds it held, learns who holds it, and
// can ask it to show its window. Two settings files (two receivers on one PC) run side by side.
#include <memory>
#include <optional>
#include <string>

namespace tidewell {

class InstanceLock {
public:
    // Takes the lock for `settingsFile`, or finds who holds it.
    explicit InstanceLock(const std::string& settingsFile);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Whether this process holds it.
    bool held() const;
    // The holder's process id, when known (0: not known).
    long holderPid() const;
    // Where this process answers status requests, for a later start that asks for its
    // window (POSIX); nothing on Windows, where a window message carries the request.
    void recordStatusPlace(const std::string& place);
    // Asks the holder to show its window; false when it could not be asked or has none.
    bool showHolder() const;
    // The window message the holder's window listens for (Windows).
    std::wstring showMessage() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// The lock's name for a settings file: the same for every spelling of its path.
std::string instanceName(const std::string& settingsFile);

// What a start does when another holds the lock: with a window, asks that copy to show its
// own and ends (0); else says who runs (on standard error) and ends (1). Nothing when this
// process holds the lock and runs.
std::optional<int> endSecondCopy(const InstanceLock& lock, bool windowed,
                                 const std::string& settingsFile);

}  // namespace tidewell
