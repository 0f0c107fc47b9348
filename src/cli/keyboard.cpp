#include "cli/cli.h"

namespace kj::cli {

int runKeyboard(Context&, const std::string&, Options&) { throw UsageError{"keyboard is not built into this korvel-cli"}; }

}  // namespace kj::cli
