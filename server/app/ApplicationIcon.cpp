#include "server/app/ApplicationIcon.h"

#include <QPainter>
#include <QPixmap>

namespace {

QPixmap DrawIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    // Crosshair of the measuring table.
    painter.setPen(QPen(QColor(0x30, 0x30, 0x30), 2));
    painter.drawLine(QPointF(2, 24), QPointF(30, 24));
    painter.drawLine(QPointF(16, 18), QPointF(16, 30));
    // Stylus and ball tip touching the surface.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x80, 0x80, 0x80));
    painter.drawRect(QRectF(14, 2, 4, 14));
    painter.setBrush(QColor(0xD0, 0x20, 0x20));
    painter.drawEllipse(QPointF(16, 18), 5, 5);
    return pixmap;
}

}  // namespace

QIcon VexServerIcon() {
    QIcon icon;
    for (int size : {16, 32, 48})
        icon.addPixmap(DrawIcon(size));
    return icon;
}
