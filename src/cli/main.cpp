// korvel-cli: one operation of one window, without the windows.
#include <csignal>
#include <cstdio>
#include <iostream>

#include "app/bridge_choice.h"
#include "cli/cli.h"

namespace kj::cli {
namespace {

std::atomic<bool> g_interrupted{false};

extern "C" void onInterrupt(int) { g_interrupted = true; }

const Tool kTools[] = {
    {"test-connect", runTestConnect, "test-connect"},
    {"edid", runEdid, "edid read --output FILE [--force] | write --input FILE [--fix-checksum] | decode FILE"},
    {"keyboard", runKeyboard, "keyboard scan [--no-sound] [--seconds N]"},
    {"kb90xx", runKb90xx,
     "kb90xx read --output FILE [--force] | write --input FILE | "
     "cable --base FILE --board N --ffc W [--reversed]"},
};

void printUsage(std::FILE* to) {
    std::fputs("usage: korvel-cli [--port PATH]... [--simulate] TOOL ACTION [options]\n"
               "  --port PATH   use this serial port instead of the FTDI ports found (may be repeated)\n"
               "  --simulate    work with the built-in simulated programmer\n"
               "tools:\n",
               to);
    for (const auto& tool : kTools) std::fprintf(to, "  %s\n", tool.usage);
    std::fputs("Log lines go to standard output, progress to standard error.\n"
               "Exit status: 0 success, 1 failure, 2 usage error.\n",
               to);
}

const Tool* findTool(const std::string& name) {
    for (const auto& tool : kTools) {
        if (name == tool.name) return &tool;
    }
    return nullptr;
}

int run(std::vector<std::string> args) {
    Options options(std::move(args));
    if (options.flag("--help") || options.flag("-h")) {
        printUsage(stdout);
        return kExitSuccess;
    }
    if (options.flag("--version")) {
        std::puts("korvel-cli 4.9");
        return kExitSuccess;
    }
    BridgeChoice choice;
    choice.simulate = options.flag("--simulate");
    choice.ports = options.values("--port");
    const auto toolName = options.positional();
    if (!toolName) throw UsageError{"no tool given"};
    const Tool* tool = findTool(*toolName);
    if (!tool) throw UsageError{"unknown tool: " + *toolName};
    const std::string action = options.positional().value_or("");

    CliFrontend ui;
    Context context{makeBridgeFactory(choice), ui, g_interrupted};
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    return tool->run(context, action, options);
}

}  // namespace
}  // namespace kj::cli

int main(int argc, char** argv) {
    using namespace kj::cli;
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        std::cerr << "korvel-cli: " << e.message << "\n";
        printUsage(stderr);
        return kExitUsage;
    }
}
