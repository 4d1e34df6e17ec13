#include "ui/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// Drawn on a 64-unit grid: a blue tile with two arrows chasing each other.
QPixmap iconPixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x1f, 0x5f, 0xa8));
    painter.drawRoundedRect(QRectF(4, 4, 56, 56), 12, 12);

    QPen arc(Qt::white, 6, Qt::SolidLine, Qt::FlatCap);
    painter.setPen(arc);
    painter.setBrush(Qt::NoBrush);
    const QRectF circle(16, 16, 32, 32);
    painter.drawArc(circle, 20 * 16, 140 * 16);
    painter.drawArc(circle, 200 * 16, 140 * 16);

    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    QPainterPath upper;
    upper.moveTo(41, 20);
    upper.lineTo(53, 22);
    upper.lineTo(45, 31);
    upper.closeSubpath();
    QPainterPath lower;
    lower.moveTo(23, 44);
    lower.lineTo(11, 42);
    lower.lineTo(19, 33);
    lower.closeSubpath();
    painter.drawPath(upper);
    painter.drawPath(lower);
    return pixmap;
}

} // namespace

QIcon applicationIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(iconPixmap(size));
    return icon;
}
