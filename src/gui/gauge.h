// The horizontal progress gauge of the tool windows.
#pragma once

#include <QColor>
#include <QWidget>

namespace kj {

class Gauge : public QWidget {
    Q_OBJECT
public:
    explicit Gauge(QWidget* parent = nullptr);
    void setMaxValue(int maximum);
    int maxValue() const { return maximum_; }
    void setProgress(int progress);
    int progress() const { return progress_; }
    void setForeColor(const QColor& colour);
    QColor foreColor() const { return colour_; }
    QSize sizeHint() const override { return {300, 24}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int maximum_ = 100;
    int progress_ = 0;
    QColor colour_ = Qt::black;
};

}  // namespace kj
