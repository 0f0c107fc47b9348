// A rounded-square shape filled with a brush colour: one cell of the keyboard
// tester's grid.
#pragma once

#include <QColor>
#include <QWidget>

namespace kj {

class Shape : public QWidget {
    Q_OBJECT
public:
    explicit Shape(QWidget* parent = nullptr);
    QColor brushColor() const { return brush_; }
    void setBrushColor(const QColor& colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor brush_ = Qt::white;
};

}  // namespace kj
