#include "app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>

namespace ui {

namespace {

QPixmap drawMeter(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    const qreal line = std::max<qreal>(1.0, s / 16.0);

    // Dark rounded face.
    p.setPen(QPen(QColor(0x20, 0x20, 0x20), line));
    p.setBrush(QColor(0x2B, 0x3A, 0x4A));
    p.drawRoundedRect(QRectF(line / 2, line / 2, s - line, s - line), s / 6, s / 6);

    // Scale arc: green up to the limit, red beyond it.
    const QRectF arc(s * 0.16, s * 0.28, s * 0.68, s * 0.68);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x00, 0xFF, 0x00), line * 1.6, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(arc, 40 * 16, 100 * 16);
    p.setPen(QPen(QColor(0xFF, 0x30, 0x30), line * 1.6, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(arc, 20 * 16, 20 * 16);

    // Needle from the pivot at the arc's centre.
    const QPointF pivot = arc.center();
    const qreal angle = 70.0 * M_PI / 180.0;
    const qreal length = arc.width() / 2;
    p.setPen(QPen(Qt::white, line * 1.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(pivot, pivot + QPointF(length * std::cos(angle), -length * std::sin(angle)));
    p.setBrush(Qt::white);
    p.setPen(Qt::NoPen);
    p.drawEllipse(pivot, line * 1.4, line * 1.4);
    return pixmap;
}

} // namespace

QIcon appIcon() {
    QIcon icon;
    for (int size : {16, 32, 48})
        icon.addPixmap(drawMeter(size));
    return icon;
}

} // namespace ui
