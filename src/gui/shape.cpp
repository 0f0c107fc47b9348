#include "gui/shape.h"

#include <QPainter>

namespace kj {

namespace {
constexpr qreal kCornerShare = 0.25;  // corner radius as a share of the shorter side
}

Shape::Shape(QWidget* parent) : QWidget(parent) {}

void Shape::setBrushColor(const QColor& colour) {
    if (colour == brush_) return;
    brush_ = colour;
    update();
}

void Shape::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::black);
    p.setBrush(brush_);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = std::min(frame.width(), frame.height()) * kCornerShare;
    p.drawRoundedRect(frame, radius, radius);
}

}  // namespace kj
