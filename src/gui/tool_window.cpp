#include "gui/tool_window.h"

#include <QCloseEvent>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

#include "common/registry.h"

namespace kj {

ToolWindow::ToolWindow(AppContext& context, QWidget* launcher, const QString& caption, std::string_view firmware)
    : QWidget(nullptr), context_(context), launcher_(launcher), bridge_(context.bridges(firmware)) {
    setWindowTitle(caption);
    setMinimiseOnly(this);
    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    canvas_ = new QWidget;
    canvas_->setObjectName("canvas");
    scroll_->setWidget(canvas_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll_);
}

void ToolWindow::setCanvasSize(int width, int height) {
    canvas_->setFixedSize(width, height);
    resize(width, height);
}

void ToolWindow::showEvent(QShowEvent* event) {
    // Placed when first shown, once the window has its final size. A form
    // taller than the screen scrolls: room for the scroll bar beside it.
    if (!placed_ && screen() && canvas_->minimumSize() == canvas_->maximumSize()) {
        const int room = screen()->availableGeometry().height() - (frameGeometry().height() - height());
        if (canvas_->height() > room) resize(canvas_->width() + style()->pixelMetric(QStyle::PM_ScrollBarExtent), room);
    }
    if (!placed_) centreOnScreen(this);
    placed_ = true;
    QWidget::showEvent(event);
}

void ToolWindow::closeEvent(QCloseEvent* event) {
    // Only EXIT decides whether the window may go; it hides the window itself.
    event->ignore();
    exitRequested();
}

void ToolWindow::showLauncherAndHide() {
    if (launcher_) launcher_->show();
    hide();
}

std::vector<const WindowEntry*> toolWindows() {
    std::vector<const WindowEntry*> all = Registry<WindowEntry>::entries();
    std::stable_sort(all.begin(), all.end(),
                     [](const WindowEntry* a, const WindowEntry* b) { return a->family.place < b->family.place; });
    return all;
}

QFont courier(int pixelSize, bool bold) {
    QFont font("Courier New");
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

QPushButton* makeButton(QWidget* parent, const QString& objectName, const QString& caption, const QColor& textColour,
                        int pixelSize, bool bold) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(objectName);
    button->setFont(courier(pixelSize, bold));
    QPalette palette = button->palette();
    palette.setColor(QPalette::Active, QPalette::ButtonText, textColour);
    palette.setColor(QPalette::Inactive, QPalette::ButtonText, textColour);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, Qt::gray);
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

QString fromUtf8(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

void centreOnScreen(QWidget* window) {
    const QScreen* screen = window->screen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    // The frame around the client area, as far as the window system tells it.
    const QSize decoration = window->frameGeometry().size() - window->geometry().size();
    const QSize room = area.size() - decoration;
    if (window->width() > room.width() || window->height() > room.height()) {
        window->resize(std::min(window->width(), room.width()), std::min(window->height(), room.height()));
    }
    QRect frame = window->frameGeometry();
    frame.moveCenter(area.center());
    frame.moveLeft(std::max(frame.left(), area.left()));
    frame.moveTop(std::max(frame.top(), area.top()));
    window->move(frame.topLeft());
}

void setMinimiseOnly(QWidget* window) {
    window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint);
}

}  // namespace kj
