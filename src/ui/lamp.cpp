#include "lamp.h"

#include <QPainter>

namespace ui {

Lamp::Lamp(QWidget* parent) : QWidget(parent) {
    setAccessibleDescription(tr("unlit"));
}

void Lamp::setFillStyle(FillStyle style) {
    if (style == fillStyle_)
        return;
    fillStyle_ = style;
    setAccessibleDescription(lit() ? tr("lit") : tr("unlit"));
    update();
}

void Lamp::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int diameter = std::min(width(), height()) - 1;
    const QRectF circle((width() - diameter) / 2.0, (height() - diameter) / 2.0, diameter,
                        diameter);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1));
    painter.setBrush(lit() ? QBrush(kFillColor) : Qt::NoBrush);
    painter.drawEllipse(circle);
}

} // namespace ui
