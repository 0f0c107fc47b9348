// korvel-cli npce.
#include "console/console.h"
#include "families.h"
#include "npce/npce.h"

namespace kj::npce {

namespace {
int run(cli::Context&, const std::string&, cli::Options&) {
    throw cli::UsageError{"the npce tool has no actions yet"};
}
}  // namespace

const cli::Tool kCliTool{.name = "npce", .usage = "npce\n", .run = run};

}  // namespace kj::npce
