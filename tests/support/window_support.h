// What the window tests share: running the event loop until something holds,
// and a log window's lines as the tests compare them.
#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "support/recording_frontend.h"

namespace kjtest {

// Far beyond any expected run: only there to turn a hang into a failure.
constexpr int kWindowHangBoundMs = 30000;

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

// The log's lines with the time of day masked; an empty log has none.
inline std::vector<std::string> memoLines(const QPlainTextEdit* memo) {
    std::vector<std::string> lines;
    const QString text = memo->toPlainText();
    if (text.isEmpty()) return lines;
    for (const auto& line : text.split('\n')) lines.push_back(line.toStdString());
    return maskTimes(lines);
}

}  // namespace kjtest
