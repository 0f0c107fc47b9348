#include "common/tool_window.h"

#include <QScreen>

namespace kj {

ToolWindow::ToolWindow(AppContext& context, QWidget* launcher, const QString& caption, std::string_view family)
    : QWidget(nullptr), context_(context), launcher_(launcher), bridge_(context.bridges(family)) {
    setWindowTitle(caption);
    setMinimiseOnly(this);
}

void ToolWindow::showEvent(QShowEvent* event) {
    // Placed when first shown, once the window has its final size.
    if (!placed_) centreOnScreen(this);
    placed_ = true;
    QWidget::showEvent(event);
}

void ToolWindow::showLauncherAndHide() {
    if (launcher_) launcher_->show();
    hide();
}

QFont courier(int pixelSize, bool bold) {
    QFont font("Courier New");
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

QPushButton* makeButton(QWidget* parent, const QString& objectName, const QString& caption,
                        const QColor& textColour, int pixelSize, bool bold) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(objectName);
    button->setFont(courier(pixelSize, bold));
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, textColour);
    button->setPalette(palette);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

QPlainTextEdit* makeMemo(QWidget* parent, const QString& objectName, int pixelSize) {
    auto* memo = new QPlainTextEdit(parent);
    memo->setObjectName(objectName);
    memo->setReadOnly(true);
    memo->setFont(courier(pixelSize));
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    return memo;
}

void centreOnScreen(QWidget* window) {
    if (const QScreen* screen = window->screen()) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
}

void setMinimiseOnly(QWidget* window) {
    window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowMinimizeButtonHint);
}

}  // namespace kj
