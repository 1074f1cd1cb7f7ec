#include "app/qt/app_icon.h"

#include <QPainter>
#include <QPixmap>

namespace tidewell {

namespace {

QPixmap clockFace(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal r = size / 2.0;
    p.translate(r, r);
    // Few flat colours, so it still reads at 16 pixels.
    p.setPen(QPen(QColor(0, 0, 128), size >= 32 ? 2.0 : 1.0));
    p.setBrush(QColor(255, 255, 224));
    p.drawEllipse(QPointF(0, 0), r - 1, r - 1);
    if (size >= 32) {
        p.setPen(QPen(QColor(0, 0, 128), 1.5));
        for (int h = 0; h < 12; h += 3) {
            p.save();
            p.rotate(h * 30);
            p.drawLine(QPointF(0, -(r - 3)), QPointF(0, -(r - 6)));
            p.restore();
        }
    }
    p.setPen(QPen(Qt::black, size >= 32 ? 2.5 : 1.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(0, 0), QPointF(0, -(r * 0.7)));  // minutes at twelve
    p.drawLine(QPointF(0, 0), QPointF(r * 0.45, 0));    // hours at three
    p.setPen(QPen(QColor(200, 0, 0), size >= 32 ? 1.5 : 1.0));
    p.drawLine(QPointF(0, 0), QPointF(-r * 0.5, r * 0.5));
    return pixmap;
}

}  // namespace

QIcon appIcon() {
    QIcon drawn;
    for (int size : {16, 32}) drawn.addPixmap(clockFace(size));
    return QIcon::fromTheme("tidewell", drawn);
}

}  // namespace tidewell
