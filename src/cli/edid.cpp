#include "cli/cli.h"

namespace kj::cli {

int runEdid(Context&, const std::string&, Options&) { throw UsageError{"edid is not built into this korvel-cli"}; }

}  // namespace kj::cli
