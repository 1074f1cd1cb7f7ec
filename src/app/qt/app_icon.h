#pragma once
// The program's icon, drawn in code (a clock face at 16 and 32 pixels) so the window and the
// tray have one without an installed file; an installed theme icon named "tidewell" wins.
#include <QIcon>

namespace tidewell {

QIcon appIcon();

}  // namespace tidewell
