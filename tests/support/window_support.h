// What the window tests share: a window's controls by their object names,
// running the event loop until something holds, and a log window's lines as
// the tests compare them.
#pragma once

#include <gtest/gtest.h>

#include "support/scratch.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "gui/chip_window.h"
#include "support/recording_frontend.h"

namespace kjtest {

// Far beyond any expected run: only there to turn a hang into a failure.
constexpr int kWindowHangBoundMs = 30000;

// The control of a window, or any object under it, by its object name: the
// names the users' instructions and the tests go by. None or more than one
// of that name and type fails the test at once.
template <class W>
W* child(const QObject& window, const QString& objectName) {
    const auto found = window.findChildren<W*>(objectName);
    if (found.size() == 1) return found.front();
    const std::string what = (found.empty() ? "no " : "more than one ") + std::string(W::staticMetaObject.className()) +
                             " named \"" + objectName.toStdString() + "\" in " + window.objectName().toStdString();
    ADD_FAILURE() << what;
    throw std::runtime_error(what);
}

// Runs the event loop until `done`, so that a worker's updates are carried out
// as they come, and lands what was posted last.
inline bool runUntil(const std::function<bool()>& done, int boundMs = kWindowHangBoundMs) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done()) loop.quit();
    });
    QTimer::singleShot(boundMs, &loop, &QEventLoop::quit);
    check.start(5);
    loop.exec();
    QCoreApplication::sendPostedEvents();
    return done();
}

// A start button's operation runs whole on its worker: the event loop runs
// until the window is idle again and its last updates are shown.
inline bool settle(kj::ChipWindow& window) {
    return runUntil([&] { return !window.busy(); });
}
inline bool clickAndSettle(QAbstractButton* button, kj::ChipWindow& window) {
    button->click();
    return settle(window);
}
// Until the worker has named its operation, with the window's buttons for it
// shown: the front end hears of it before the name is set.
inline bool begun(kj::Operation& operation, std::string_view name) {
    return runUntil([&] { return operation.name().is(name); });
}

// The log's lines with the time of day masked; an empty log has none.
inline std::vector<std::string> memoLines(const QPlainTextEdit* memo) {
    std::vector<std::string> lines;
    const QString text = memo->toPlainText();
    if (text.isEmpty()) return lines;
    for (const auto& line : text.split('\n')) lines.push_back(line.toStdString());
    return maskTimes(lines);
}

// Picks an entry as the user does, so that the window's handler runs too.
inline void choose(QComboBox* chooser, int index) {
    chooser->setCurrentIndex(index);
    emit chooser->activated(index);
}

// Types a text and Return into the next modal dialog, through its window as
// the window system delivers keys. A dialog deaf to them is closed at the
// bound, so that the test fails instead of hanging.
class DialogTypist {
public:
    explicit DialogTypist(std::string text, int boundMs = kWindowHangBoundMs) : text_(std::move(text)) {
        QObject::connect(&poll_, &QTimer::timeout, [this] { typeIntoDialog(); });
        poll_.start(20);
        giveUp_.setSingleShot(true);
        QObject::connect(&giveUp_, &QTimer::timeout, [] {
            if (QWidget* dialog = QApplication::activeModalWidget()) dialog->close();
        });
        giveUp_.start(boundMs);
    }
    int dialogsTyped() const { return typed_; }

private:
    void typeIntoDialog() {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog || !dialog->isVisible() || !dialog->windowHandle()) return;
        poll_.stop();
        ++typed_;
        QWindow* window = dialog->windowHandle();
        QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier);
        for (const char c : text_) QTest::keyClick(window, c);
        QTest::keyClick(window, Qt::Key_Return);
    }

    std::string text_;
    QTimer poll_;
    QTimer giveUp_;
    int typed_ = 0;
};

}  // namespace kjtest
