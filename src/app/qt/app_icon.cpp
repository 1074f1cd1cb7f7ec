#include "app/qt/app_icon.h"

namespace tidewell {

QIcon appIcon() {
    QIcon built;
    for (const char* file : {":/icons/tidewell-16.png", ":/icons/tidewell-32.png"})
        built.addFile(file);
    return QIcon::fromTheme("tidewell", built);
}

}  // namespace tidewell
