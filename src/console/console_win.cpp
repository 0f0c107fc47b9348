#include "console/console_win.h"

#include <windows.h>

#include <csignal>

namespace kj::cli {
namespace {

// Windows ends the process a few seconds after a close event's handler is
// called; until then this waits, so that the aborted operation can close
// the port and drop its temporary file while the main thread ends the program.
constexpr DWORD kCloseGraceMs = 4000;

InterruptHandler g_handler = nullptr;

BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT: g_handler(SIGINT); return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            // No time to run a write to its end: the second interrupt aborts.
            g_handler(SIGTERM);
            g_handler(SIGTERM);
            ::Sleep(kCloseGraceMs);
            return TRUE;
        default: return FALSE;
    }
}

// raise() goes through the C runtime's handlers, which are reset after each call.
extern "C" void onRaised(int signal) {
    std::signal(signal, onRaised);
    g_handler(signal);
}

}  // namespace

void installConsoleHandler(InterruptHandler handler) {
    g_handler = handler;
    std::signal(SIGINT, onRaised);
    std::signal(SIGTERM, onRaised);
    // Registered after the runtime's own console handler, so called before it.
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

}  // namespace kj::cli
