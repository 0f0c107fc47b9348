#include "cli/cli.h"

namespace kj::cli {

int runKb90xx(Context&, const std::string&, Options&) { throw UsageError{"kb90xx is not built into this korvel-cli"}; }

}  // namespace kj::cli
