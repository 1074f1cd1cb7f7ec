#pragma once
// The tray icon as the window model fills it at start-up and uses again to remove it. Each
// platform's shell turns it into its own record (NOTIFYICONDATA on Windows) and tells the
// model of clicks on it in the model's own terms.
#include <string>

namespace tidewell {

struct TrayIconRecord {
    std::string tip;
};

}  // namespace tidewell
