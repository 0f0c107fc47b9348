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
    case QEvent::Shortcut:
        return true;
    default:
        return false;
    }
}

// The widget that input sent to `target` is for: input reaches a window first,
// and the widget inside it after.
const QWidget* inputWidget(QObject* target) {
    if (const auto* widget = qobject_cast<const QWidget*>(target)) return widget;
    const auto* window = qobject_cast<const QWindow*>(target);
    if (!window) return nullptr;
    for (const QWidget* top : QApplication::topLevelWidgets()) {
        if (top->windowHandle() == window) return top;
    }
    return nullptr;
}

// Drops input meant for anything but a dialog opened meanwhile (its own
// pop-ups, such as a file name's completions, included), so that a click made
// while waiting never runs once the operation has ended.
class InputBlocker : public QObject {
public:
    bool eventFilter(QObject* target, QEvent* event) override {
        if (!isUserInput(event->type())) return false;
        const QWidget* modal = QApplication::activeModalWidget();
        if (modal && QApplication::activePopupWidget()) return false;
        const QWidget* widget = inputWidget(target);
        return !(modal && widget && (widget == modal || modal->isAncestorOf(widget)));
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
    QObject::connect(thread, &QThread::finished, qApp, [] {}, Qt::QueuedConnection);
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
