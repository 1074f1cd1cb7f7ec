#pragma once
// The program's icon for the window, its message boxes and the tray: the 16 and 32 pixel
// pictures built into the program, the same the package installs into the icon theme.
#include <QIcon>

namespace tidewell {

QIcon appIcon();

}  // namespace tidewell
