// korvel-cli mec16.
#include "console/console.h"
#include "families.h"
#include "mec16/mec16.h"

namespace kj::mec16 {

namespace {
int run(cli::Context&, const std::string&, cli::Options&) {
    throw cli::UsageError{"the mec16 tool has no actions yet"};
}
}  // namespace

const cli::Tool kCliTool{.name = "mec16", .usage = "mec16\n", .run = run};

}  // namespace kj::mec16
