#include "app/widgets/ApplicationIcon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// Drawn on a 64 x 64 grid and scaled to the size asked for.
QPixmap DrawIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);

    QLinearGradient tile(0, 4, 0, 60);
    tile.setColorAt(0, QColor(0x2e, 0x7d, 0xd7));
    tile.setColorAt(1, QColor(0x1a, 0x4f, 0x96));
    painter.setPen(Qt::NoPen);
    painter.setBrush(tile);
    painter.drawRoundedRect(QRectF(4, 4, 56, 56), 12, 12);

    painter.setBrush(QColor(0xf4, 0xf6, 0xfa));
    painter.drawRoundedRect(QRectF(11, 15, 26, 34), 3, 3);
    painter.setBrush(QColor(0x1a, 0x4f, 0x96));
    for (int row = 0; row < 4; ++row) {
        painter.drawRect(QRectF(13, 18 + row * 8, 4, 4));
        painter.drawRect(QRectF(31, 18 + row * 8, 4, 4));
    }
    painter.setBrush(QColor(0x9c, 0xc3, 0xef));
    painter.drawRect(QRectF(19, 18, 10, 12));
    painter.drawRect(QRectF(19, 34, 10, 12));

    QPainterPath arrow;
    arrow.moveTo(33, 27);
    arrow.lineTo(43, 27);
    arrow.lineTo(43, 19);
    arrow.lineTo(56, 32);
    arrow.lineTo(43, 45);
    arrow.lineTo(43, 37);
    arrow.lineTo(33, 37);
    arrow.closeSubpath();
    painter.setBrush(QColor(0xff, 0x9f, 0x1c));
    painter.drawPath(arrow);
    return pixmap;
}

}  // namespace

QIcon ApplicationIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(DrawIcon(size));
    return icon;
}
