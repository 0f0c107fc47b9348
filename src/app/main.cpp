// korvel-jig: the desktop program.
#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

#ifndef _WIN32
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "app/launcher.h"
#include "common/backup_name.h"
#include "common/journal.h"
#include "common/private_files.h"
#include "link/bridge_choice.h"
#include "link/wait_guard.h"
#include "link/wire_trace.h"
#include "sim/simulated_bridges.h"

namespace {

const char kUsage[] =
    "Usage: korvel-jig [--simulate] [--port PATH]... [--trace FILE] [--job TEXT]\n"
    "\n"
    "The desktop program for the Korvel USB programmer jig: one window per tool, reached from the launcher.\n"
    "\n"
    "  --simulate    work with the built-in simulated programmer\n"
    "  --port PATH   use this serial port instead of the FTDI ports found (may be repeated)\n"
    "  --trace FILE  append every byte to and from the programmer, and the log lines, to FILE\n"
    "                (or set KORVEL_TRACE=FILE)\n"
    "  --job TEXT    the board or job worked on, as the windows' \"Board / job\" field starts\n"
    "  -h, --help    show this help and exit\n"
    "  --version     show the version and exit\n"
    "\n"
    "Qt's own options (-platform NAME, -style NAME, -display NAME, ...) are passed to Qt.\n";

const char kVersion[] = "korvel-jig " KJ_VERSION "\n";

// Start-up errors exit with this; a usage error with kExitUsage.
constexpr int kExitFatal = 1;
constexpr int kExitUsage = 2;

// Qt's options that the toolkit takes out of the command line itself.
struct QtOption {
    std::string_view name;
    bool takesValue;
};
constexpr QtOption kQtOptions[] = {
    {"-platform", true},        {"-platformpluginpath", true}, {"-platformtheme", true}, {"-plugin", true},
    {"-style", true},           {"-stylesheet", true},         {"-display", true},       {"-session", true},
    {"-qwindowgeometry", true}, {"-qwindowtitle", true},       {"-reverse", false},      {"-nograb", false},
};

const QtOption* qtOption(std::string_view arg) {
    for (const auto& option : kQtOptions) {
        if (arg == option.name) return &option;
    }
    return nullptr;
}

enum class Start { Run, Help, Version, UsageError };

// Read before the toolkit starts, so that help, version and mistakes need no display.
Start parseArguments(int argc, char** argv, kj::BridgeChoice& choice, std::string& tracePath, std::string& job) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") return Start::Help;
        if (arg == "--version") return Start::Version;
        if (arg == "--simulate") {
            choice.simulate = true;
        } else if (arg == "--port" || arg == "--trace" || arg == "--job") {
            if (i + 1 == argc) {
                std::fprintf(stderr, "korvel-jig: %s needs a %s\n", argv[i],
                             arg == "--port"  ? "PATH"
                             : arg == "--job" ? "TEXT"
                                              : "FILE");
                return Start::UsageError;
            }
            (arg == "--port" ? choice.ports.emplace_back() : arg == "--job" ? job : tracePath) = argv[++i];
        } else if (const QtOption* option = qtOption(arg)) {
            if (option->takesValue) ++i;
        } else {
            std::fprintf(stderr, "korvel-jig: unknown option %s\n", argv[i]);
            return Start::UsageError;
        }
    }
    return Start::Run;
}

#ifdef _WIN32
// A Windows program without a console is ended through its windows only.
void quitOnSignals(kj::Launcher&) {}
#else
int g_signalPipe[2] = {-1, -1};

extern "C" void onQuitSignal(int) {
    const char byte = 1;
    [[maybe_unused]] auto n = ::write(g_signalPipe[1], &byte, 1);
}

// SIGTERM, SIGINT and SIGHUP (the terminal closed) end the program as its Exit
// button does, from the event loop.
void quitOnSignals(kj::Launcher& launcher) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &launcher);
    QObject::connect(notifier, &QSocketNotifier::activated, &launcher, [&launcher] { launcher.onExit(); });
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);  // a closed standard output is no reason to drop an operation
}
#endif

int showFatal(const QString& text) {
    std::fprintf(stderr, "korvel-jig: %s\n", text.isEmpty() ? "start-up failed" : qPrintable(text));
    QMessageBox::critical(nullptr, QApplication::applicationName(), text);
    return kExitFatal;
}

}  // namespace

int main(int argc, char** argv) {
    kj::BridgeChoice choice;
    std::string tracePath;
    std::string job;
    switch (parseArguments(argc, argv, choice, tracePath, job)) {
        case Start::Help: std::fputs(kUsage, stdout); return 0;
        case Start::Version: std::fputs(kVersion, stdout); return 0;
        case Start::UsageError: std::fputs(kUsage, stderr); return kExitUsage;
        case Start::Run: break;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("Korvel_JIG");
    // Only the launcher's Exit ends the program, never a window that closes.
    QApplication::setQuitOnLastWindowClosed(false);
    kj::forbidWaitsOnThisThread();
    if (std::string error; !kj::trace::startFromOptions(tracePath, error)) {
        std::fprintf(stderr, "korvel-jig: --trace: %s\n", error.c_str());
        return kExitUsage;
    }
    try {
        kj::QtDesktop desktop;
        const auto tightened = kj::tightenDataFolder();
        kj::journal::start();
        if (tightened) {
            std::fprintf(stderr, "korvel-jig: %s\n", tightened->c_str());
            kj::journal::line("korvel-jig", kj::safeLabel(job), *tightened);
        }
        kj::AppContext context{
            kj::trace::traced(choice.simulate ? kjsim::simulatedBridges() : kj::portBridges(choice.ports)), desktop,
            kj::SafetySettings::load(kj::settingsFile()), kj::safeLabel(job)};
        kj::Launcher launcher(context);
        quitOnSignals(launcher);
        QObject::connect(&app, &QCoreApplication::aboutToQuit, &launcher, [&launcher] { launcher.shutDown(); });
        launcher.show();
        return QApplication::exec();
    } catch (const std::exception& e) {
        return showFatal(QString::fromUtf8(e.what()));
    } catch (...) {
        return showFatal(QString());
    }
}
