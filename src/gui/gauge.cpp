#include "gui/gauge.h"

#include <QPainter>

namespace kj {

Gauge::Gauge(QWidget* parent) : QWidget(parent) { setMinimumHeight(20); }

void Gauge::setMaxValue(int maximum) {
    maximum_ = maximum > 0 ? maximum : 1;
    update();
}

void Gauge::setProgress(int progress) {
    progress_ = std::clamp(progress, 0, maximum_);
    update();
}

void Gauge::setForeColor(const QColor& colour) {
    colour_ = colour;
    update();
}

void Gauge::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect frame = rect().adjusted(0, 0, -1, -1);
    p.fillRect(frame, Qt::white);
    const int filled = static_cast<int>(static_cast<long long>(frame.width()) * progress_ / maximum_);
    p.fillRect(QRect(frame.left(), frame.top(), filled, frame.height()), colour_);
    p.setPen(Qt::black);
    p.drawRect(frame);
    const int percent = static_cast<int>(100LL * progress_ / maximum_);
    p.drawText(frame, Qt::AlignCenter, QString::number(percent) + "%");
}

}  // namespace kj
