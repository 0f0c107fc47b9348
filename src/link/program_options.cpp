#include "link/program_options.h"

#include "common/backup_name.h"

namespace kj {

ProgramOptions takeProgramOptions(Arguments& given) {
    ProgramOptions options;
    const auto simulate = given.value(kSimulateOption.name);
    if (simulate && !simulate->empty() && *simulate != kSimulateOption.value)
        throw UsageError{"--simulate takes no value but fresh (--simulate=fresh)"};
    options.bridges.simulate = simulate.has_value();
    options.bridges.fresh = simulate && !simulate->empty();
    options.bridges.ports = given.values(kPortOption.name);
    options.tracePath = given.value(kTraceOption.name).value_or("");
    if (const auto job = given.value(kJobOption.name)) {
        options.job = safeLabel(*job);
        if (options.job.empty()) throw UsageError{"--job needs a TEXT"};
    }
    options.help = given.flag(kHelpOption.name);
    options.version = given.flag(kVersionOption.name);
    return options;
}

}  // namespace kj
