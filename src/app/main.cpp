// korvel-jig: the desktop program.
#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <exception>

#ifndef _WIN32
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "app/launcher.h"
#include "sim/bridge_choice.h"

namespace {

const char kUsage[] =
    "usage: korvel-jig [--simulate] [--port PATH]...\n"
    "  --simulate    work with the built-in simulated programmer\n"
    "  --port PATH   use this serial port instead of the FTDI ports found (may be repeated)\n";

#ifdef _WIN32
// A Windows program without a console is ended through its windows only.
void quitOnSignals(kj::TForm1&) {}
#else
int g_signalPipe[2] = {-1, -1};

extern "C" void onQuitSignal(int) {
    const char byte = 1;
    [[maybe_unused]] auto n = ::write(g_signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT end the program as its Exit button does, from the event loop.
void quitOnSignals(kj::TForm1& launcher) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &launcher);
    QObject::connect(notifier, &QSocketNotifier::activated, &launcher, [&launcher] { launcher.ExitClick(); });
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}
#endif

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
    // Only the launcher's Exit ends the program, never a window that closes.
    QApplication::setQuitOnLastWindowClosed(false);
    kj::BridgeChoice choice;
    if (!parseArguments(QApplication::arguments(), choice)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    try {
        kj::QtDesktop desktop;
        kj::AppContext context{kj::makeBridgeFactory(choice), desktop};
        kj::TForm1 launcher(context);
        quitOnSignals(launcher);
        QObject::connect(&app, &QCoreApplication::aboutToQuit, &launcher, [&launcher] { launcher.shutDown(); });
        launcher.show();
        return QApplication::exec();
    } catch (const std::exception& e) {
        showFatal(QString::fromUtf8(e.what()));
    } catch (...) {
        showFatal(QString());
    }
    return 0;
}
