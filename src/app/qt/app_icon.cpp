#include "app/qt/app_icon.h"

#include <QImageReader>
#include <QPixmap>

namespace tidewell {

// Not looked up in the icon theme first: that would find the same pictures and cost the program
// a third of a megabyte.
QIcon appIcon() {
    QIcon icon;
    for (const char* file : {":/icons/tidewell-16.png", ":/icons/tidewell-32.png"}) {
        // Left to guess the kind, Qt loads every image plugin it has to ask each of them.
        QImageReader reader(file, "png");
        reader.setAutoDetectImageFormat(false);
        icon.addPixmap(QPixmap::fromImage(reader.read()));
    }
    return icon;
}

}  // namespace tidewell
