// Ctrl-C, Ctrl-Break and a closing console window, brought to the same
// handler as SIGINT and SIGTERM elsewhere.
#pragma once

#ifdef _WIN32

namespace kj::cli {

using InterruptHandler = void (*)(int signal);
void installConsoleHandler(InterruptHandler handler);

}  // namespace kj::cli

#endif
