// korvel-jig: the desktop program.
#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#ifndef _WIN32
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "app/launcher.h"
#include "common/journal.h"
#include "common/private_files.h"
#include "link/bridge_choice.h"
#include "link/program_options.h"
#include "link/wait_guard.h"
#include "link/wire_trace.h"
#include "sim/simulated_bridges.h"

namespace {

const char kAbout[] =
    "The desktop program for the Korvel USB programmer jig: one window per tool, reached from the launcher.\n"
    "\n";
const char kQtNote[] = "\nQt's own options (-platform NAME, -style NAME, -display NAME, ...) are passed to Qt.\n";

const char kVersion[] = "korvel-jig " KJ_VERSION "\n";

// Start-up errors exit with this; a usage error with kExitUsage.
constexpr int kExitFatal = 1;
constexpr int kExitUsage = 2;

// Qt's options, which the toolkit takes out of the command line itself: read
// here only to be passed over.
constexpr kj::Option kQtOptions[] = {
    {.name = "-platform", .value = "NAME", .hidden = true},
    {.name = "-platformpluginpath", .value = "PATH", .hidden = true},
    {.name = "-platformtheme", .value = "NAME", .hidden = true},
    {.name = "-plugin", .value = "NAME", .hidden = true},
    {.name = "-style", .value = "NAME", .hidden = true},
    {.name = "-stylesheet", .value = "FILE", .hidden = true},
    {.name = "-display", .value = "NAME", .hidden = true},
    {.name = "-session", .value = "NAME", .hidden = true},
    {.name = "-qwindowgeometry", .value = "GEOMETRY", .hidden = true},
    {.name = "-qwindowtitle", .value = "TITLE", .hidden = true},
    {.name = "-reverse", .hidden = true},
    {.name = "-nograb", .hidden = true},
};

std::string usage() {
    return "Usage: korvel-jig " + kj::synopsis(kj::kProgramOptions) + "\n\n" + kAbout +
           kj::optionLines(kj::kProgramOptions) + kQtNote;
}

// Read before the toolkit starts, so that help, version and mistakes need no display.
kj::ProgramOptions parseArguments(int argc, char** argv) {
    kj::OptionReader reader(std::vector<std::string>(argv + 1, argv + argc));
    reader.allow(kj::kProgramOptions);
    std::vector<const kj::Option*> qt;
    for (const auto& option : kQtOptions) qt.push_back(&option);
    reader.allow(qt);
    kj::Arguments given;
    reader.readAll(given);
    auto options = kj::takeProgramOptions(given);
    if (!options.help && !options.version) given.finish();
    return options;
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
    kj::ProgramOptions options;
    try {
        options = parseArguments(argc, argv);
    } catch (const kj::UsageError& e) {
        std::fprintf(stderr, "korvel-jig: %s\n%s", e.message.c_str(), usage().c_str());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(usage().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::fputs(kVersion, stdout);
        return 0;
    }
    const kj::BridgeChoice& choice = options.bridges;
    QApplication app(argc, argv);
    QApplication::setApplicationName("Korvel_JIG");
    // Only the launcher's Exit ends the program, never a window that closes.
    QApplication::setQuitOnLastWindowClosed(false);
    kj::forbidWaitsOnThisThread();
    if (std::string error; !kj::trace::startFromOptions(options.tracePath, error)) {
        std::fprintf(stderr, "korvel-jig: --trace: %s\n", error.c_str());
        return kExitUsage;
    }
    try {
        kj::QtDesktop desktop;
        const auto tightened = kj::tightenDataFolder();
        kj::journal::start();
        if (tightened) {
            std::fprintf(stderr, "korvel-jig: %s\n", tightened->c_str());
            kj::journal::line("korvel-jig", options.job, *tightened);
        }
        kj::AppContext context{
            kj::trace::traced(choice.simulate ? kjsim::simulatedBridges(choice.fresh) : kj::portBridges(choice.ports)),
            desktop, kj::SafetySettings::load(kj::settingsFile()), options.job};
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
