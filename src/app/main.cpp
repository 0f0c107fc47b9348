// korvel-jig: the desktop program.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <exception>

#include "app/bridge_choice.h"
#include "app/launcher.h"

namespace {

const char kUsage[] =
    "usage: korvel-jig [--simulate] [--port PATH]...\n"
    "  --simulate    work with the built-in simulated programmer\n"
    "  --port PATH   use this serial port instead of the FTDI ports found (may be repeated)\n";

bool parseArguments(const QStringList& args, kj::BridgeChoice& choice) {
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--simulate") {
            choice.simulate = true;
        } else if (args[i] == "--port" && i + 1 < args.size()) {
            choice.ports.push_back(args[++i].toStdString());
        } else {
            return false;
        }
    }
    return true;
}

void showFatal(const QString& text) { QMessageBox::critical(nullptr, QApplication::applicationName(), text); }

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Korvel_JIG");
    QApplication::setApplicationDisplayName("Korvel_JIG");
    kj::BridgeChoice choice;
    if (!parseArguments(QApplication::arguments(), choice)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    try {
        kj::QtDesktop desktop;
        kj::AppContext context{kj::makeBridgeFactory(choice), desktop};
        kj::TForm1 launcher(context);
        launcher.show();
        return QApplication::exec();
    } catch (const std::exception& e) {
        showFatal(QString::fromUtf8(e.what()));
    } catch (...) {
        showFatal(QString());
    }
    return 0;
}
