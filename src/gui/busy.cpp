#include "gui/busy.h"

#include <QApplication>
#include <QEvent>
#include <QThread>
#include <QWidget>
#include <QWindow>
#include <atomic>

namespace kj {

namespace {

bool isUserInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::TouchBegin:
        case QEvent::Shortcut: return true;
        default: return false;
    }
}

// The widget an input event is for: the window system hands it to the
// widget's top-level window first.
const QWidget* widgetOf(QObject* target) {
    if (const auto* widget = qobject_cast<const QWidget*>(target)) return widget;
    if (const auto* window = qobject_cast<const QWindow*>(target)) {
        for (const QWidget* top : QApplication::topLevelWidgets()) {
            if (top->windowHandle() == window) return top;
        }
    }
    return nullptr;
}

// The dialog, a control in it, or a popup it opened (the file name's
// completions, the list of file types): nothing else can open one meanwhile.
bool partOf(const QWidget* widget, const QWidget* modal) {
    const QWidget* popup = QApplication::activePopupWidget();
    for (; widget; widget = widget->parentWidget()) {
        if (widget == modal || widget == popup) return true;
    }
    return false;
}

// Drops input meant for anything but a dialog opened meanwhile, so that a click
// made while waiting never runs once the operation has ended.
class InputBlocker : public QObject {
public:
    bool eventFilter(QObject* target, QEvent* event) override {
        if (!isUserInput(event->type())) return false;
        const QWidget* modal = QApplication::activeModalWidget();
        return !(modal && partOf(widgetOf(target), modal));
    }
};

}  // namespace

void runWhileBusy(const std::function<void()>& work) {
    InputBlocker blocker;
    qApp->installEventFilter(&blocker);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    std::atomic<bool> done{false};
    QThread* thread = QThread::create([&] {
        work();
        done = true;
    });
    QObject::connect(
        thread, &QThread::finished, qApp, [] {}, Qt::QueuedConnection);
    thread->start();
    while (!done.load() || !thread->isFinished()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    thread->wait();
    delete thread;
    // The updates it posted last land before the handler returns.
    QCoreApplication::sendPostedEvents();
    QApplication::restoreOverrideCursor();
    qApp->removeEventFilter(&blocker);
}

}  // namespace kj
