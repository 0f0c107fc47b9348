#include "gui/tool_window.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

#include "common/registry.h"
#include "gui/window_frontend.h"

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
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(scroll_, 1);
}

// Escape does what EXIT does, wherever the focus is in the window. It comes here
// only when nothing took it before: an open drop-down list or menu closes on it
// first, and a dialog takes it for its own.
void ToolWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Escape || event->modifiers() != Qt::NoModifier) return QWidget::keyPressEvent(event);
    event->accept();
    exitRequested();
}

void ToolWindow::setCanvasSize(int width, int height) {
    canvas_->setFixedSize(width, height);
    resize(width + (side_ ? side_->width() : 0), height);
}

QWidget* ToolWindow::sidePanel(int width) {
    if (!side_) {
        side_ = new QWidget(this);
        side_->setObjectName("sidePanel");
        side_->setFixedWidth(width);
        layout()->addWidget(side_);
        resize(this->width() + width, height());
    }
    return side_;
}

// Placed before it is first shown, once the window has its final size: a
// window manager takes a position given then as that of the frame. A form
// taller than the screen scrolls: room for the scroll bar beside it.
void ToolWindow::setVisible(bool visible) {
    if (visible && !placed_ && screen()) {
        placed_ = true;
        if (canvas_->minimumSize() == canvas_->maximumSize()) {
            const int room = screen()->availableGeometry().height() - frameAround(this, launcher_).height();
            if (canvas_->height() > room) resize(width() + style()->pixelMetric(QStyle::PM_ScrollBarExtent), room);
        }
        centreOnScreen(this, launcher_);
    }
    if (visible && !isVisible() && instructionsLog_ && logIsEmpty(instructionsLog_)) {
        for (const QString& line : instructions_) appendLogLine(instructionsLog_, line);
    }
    QWidget::setVisible(visible);
}

void ToolWindow::setInstructions(QPlainTextEdit* log, std::vector<QString> lines) {
    instructionsLog_ = log;
    instructions_ = std::move(lines);
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
    return inFamilyPlaces<WindowEntry>([](const WindowEntry& entry) { return &entry.family; });
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

void LogView::setFooter(QWidget* footer) {
    footer_ = footer;
    footer_->installEventFilter(this);
    placeFooter();
}

bool LogView::eventFilter(QObject* watched, QEvent* event) {
    const auto type = event->type();
    if (watched == footer_ && (type == QEvent::Show || type == QEvent::Hide || type == QEvent::Resize)) placeFooter();
    return QPlainTextEdit::eventFilter(watched, event);
}

void LogView::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    placeFooter();
}

// The text gives up a strip at its foot as high as the footer, and the footer
// sits in it at the right: the last line stays in view above it.
void LogView::placeFooter() {
    if (!footer_) return;
    const int height = footer_->isVisibleTo(this) ? footer_->height() : 0;
    if (viewportMargins().bottom() != height) {
        QScrollBar* bar = verticalScrollBar();
        const bool atEnd = bar->value() == bar->maximum();
        setViewportMargins(0, 0, 0, height);
        if (atEnd) bar->setValue(bar->maximum());
    }
    const QRect text = viewport()->geometry();
    footer_->move(text.right() + 1 - footer_->width(), text.bottom() + 1);
}

QPlainTextEdit* makeMemo(QWidget* parent, const QString& objectName, int pixelSize) {
    auto* memo = new LogView(parent);
    memo->setObjectName(objectName);
    memo->setReadOnly(true);
    memo->setFont(courier(pixelSize));
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // A path or a hash longer than the log is wide wraps, where it can between
    // words, rather than hiding its end beyond a sideways scroll.
    memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memo->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    return memo;
}

QString fromUtf8(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QSize frameAround(const QWidget* window, const QWidget* framedLike) {
    const QSize own = window->frameGeometry().size() - window->geometry().size();
    if (own.width() > 0 || own.height() > 0 || !framedLike) return own;
    return framedLike->frameGeometry().size() - framedLike->geometry().size();
}

void centreOnScreen(QWidget* window, const QWidget* framedLike) {
    const QScreen* screen = window->screen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    const QSize decoration = frameAround(window, framedLike);
    const QSize room = area.size() - decoration;
    if (window->width() > room.width() || window->height() > room.height()) {
        window->resize(std::min(window->width(), room.width()), std::min(window->height(), room.height()));
    }
    QRect frame(window->pos(), window->size() + decoration);
    frame.moveCenter(area.center());
    frame.moveLeft(std::max(frame.left(), area.left()));
    frame.moveTop(std::max(frame.top(), area.top()));
    window->move(frame.topLeft());
}

void placeBeside(QWidget* window, const QWidget* anchor, int minimumWidth) {
    const QScreen* screen = anchor->screen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    const QRect beside = anchor->frameGeometry();
    const QSize decoration = frameAround(window, anchor);
    const int roomRight = area.right() - beside.right();
    const int roomLeft = beside.left() - area.left();
    const int room = std::max(roomRight, roomLeft) - decoration.width();
    if (window->width() > room) window->resize(std::max(room, minimumWidth), window->height());
    const int frameWidth = window->width() + decoration.width();
    int left = roomRight >= roomLeft ? beside.right() + 1 : beside.left() - frameWidth;
    left = std::clamp(left, area.left(), std::max(area.left(), area.right() + 1 - frameWidth));
    const int top = std::clamp(beside.top(), area.top(),
                               std::max(area.top(), area.bottom() + 1 - window->height() - decoration.height()));
    window->move(left, top);
}

void setMinimiseOnly(QWidget* window) {
    window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint);
}

}  // namespace kj
