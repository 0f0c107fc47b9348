#include "gui/busy.h"

#include <QApplication>
#include <QEvent>
#include <QThread>
#include <QWidget>
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

// Drops input meant for anything but a dialog opened meanwhile, so that a click
// made while waiting never runs once the operation has ended.
class InputBlocker : public QObject {
public:
    bool eventFilter(QObject* target, QEvent* event) override {
        if (!isUserInput(event->type())) return false;
        const QWidget* modal = QApplication::activeModalWidget();
        const auto* widget = qobject_cast<const QWidget*>(target);
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
