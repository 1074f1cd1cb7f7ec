#pragma once
// Auto-run at log-on on Windows: the every-log-on list is the current user's Run key, the
// next-log-on-only list its RunOnce key, each value a registry value of the same name.
#include <string>
#include <utility>

#include "platform/autorun.h"

namespace tidewell {

class RegistryAutoRun final : public AutoRun {
public:
    static constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

    // `runKey` is under HKEY_CURRENT_USER; the next-log-on-only list is the same path with
    // "Once" appended. Keys are opened for writing, never created.
    explicit RegistryAutoRun(std::string runKey = kRunKey) : runKey_(std::move(runKey)) {}

    // The command as REG_SZ in the ANSI code page. One with characters the code page lacks is
    // written in its short (8.3) form when it names a file, so that the value still starts the
    // program.
    bool launchAtLogOn(AutoRunList list, std::string_view name, const std::string& command) override;
    bool remove(AutoRunList list, std::string_view name) override;

private:
    std::string keyOf(AutoRunList list) const;

    std::string runKey_;
};

}  // namespace tidewell
