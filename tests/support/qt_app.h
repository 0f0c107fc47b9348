// One QApplication for a test program's window tests (offscreen platform).
#pragma once

#include <QApplication>

namespace kjtest {

inline QApplication& ensureApp() {
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) return *app;
    static int argc = 1;
    static char name[] = "korvel-tests";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    QApplication::setApplicationName("Korvel_JIG");
    return app;
}

}  // namespace kjtest
