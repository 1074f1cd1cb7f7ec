#pragma once
// The program's icon for the window, its message boxes and the tray: the installed theme's
// "tidewell" when there is one, else the 16 and 32 pixel pictures built into the program.
#include <QIcon>

namespace tidewell {

QIcon appIcon();

}  // namespace tidewell
