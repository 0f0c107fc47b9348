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
// made while waiting never runs once the operation has ended. While a dialog is
// up, Qt's own modality keeps input from the other windows; the dialog's input
// comes to its window handle (no widget) before it reaches its widgets.
class InputBlocker : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        return isUserInput(event->type()) && !QApplication::activeModalWidget();
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
