#include "app/qt/app_icon.h"

#include <QImage>
#include <QPixmap>

#include "icon_pixels.h"

namespace tidewell {

// Not looked up in the icon theme first: that would find the same pictures and cost the program
// a third of a megabyte.
QIcon appIcon() {
    QIcon icon;
    for (const unsigned* picture : icon_pixels::kPictures)
        icon.addPixmap(
            QPixmap::fromImage(QImage(reinterpret_cast<const uchar*>(picture + 2), int(picture[0]),
                                      int(picture[1]), QImage::Format_ARGB32)));
    return icon;
}

}  // namespace tidewell
