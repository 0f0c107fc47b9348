// korvel-cli ite.
#include "console/console.h"
#include "families.h"
#include "ite/ite.h"

namespace kj::ite {

namespace {
int run(cli::Context&, const std::string&, cli::Options&) {
    throw cli::UsageError{"the ite tool has no actions yet"};
}
}  // namespace

const cli::Tool kCliTool{.name = "ite", .usage = "ite\n", .run = run};

}  // namespace kj::ite
