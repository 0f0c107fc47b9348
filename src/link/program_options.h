// The options korvel-jig and korvel-cli share: which programmer, the wire
// trace, the job, help and version.
#pragma once

#include <string>

#include "common/command_line.h"
#include "link/bridge_choice.h"

namespace kj {

inline constexpr Option kSimulateOption{
    .name = "--simulate",
    .value = "fresh",
    .help =
        "work with the built-in simulated programmer; its chips are kept in\n"
        "<data folder>/simulator/ between runs, =fresh starts them afresh",
    .valueAfterEquals = true,
};
inline constexpr Option kPortOption{
    .name = "--port",
    .value = "PATH",
    .help = "use this serial port instead of the FTDI ports found (may be repeated)",
    .repeats = true,
};
inline constexpr Option kTraceOption{
    .name = "--trace",
    .value = "FILE",
    .help =
        "append every byte to and from the programmer, and the log lines, to FILE\n"
        "(or set KORVEL_TRACE=FILE)",
};
inline constexpr Option kJobOption{
    .name = "--job",
    .value = "TEXT",
    .help = "the board or job worked on: in the record, the backups' names and the history",
};
inline constexpr Option kHelpOption{
    .name = "--help", .help = "show this help and exit", .shortName = 'h', .alone = true};
inline constexpr Option kVersionOption{.name = "--version", .help = "show the version and exit", .alone = true};

inline constexpr const Option* kProgramOptions[] = {&kSimulateOption, &kPortOption, &kTraceOption,
                                                    &kJobOption,      &kHelpOption, &kVersionOption};

struct ProgramOptions {
    BridgeChoice bridges;
    std::string tracePath;  // empty: none, unless the environment names one
    std::string job;        // safe for a file name
    bool help = false;
    bool version = false;
};

// Takes them from what was read; a usage error for a value they refuse.
ProgramOptions takeProgramOptions(Arguments& given);

}  // namespace kj
