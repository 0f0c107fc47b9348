#include "cli/cli.h"
#include "link/connection_test.h"

namespace kj::cli {

int runTestConnect(Context& context, const std::string& action, Options& options) {
    if (!action.empty()) throw UsageError{"test-connect takes no action"};
    options.finish();
    runConnectionTest(*context.bridges("V41"), context.ui);
    return kExitSuccess;
}

}  // namespace kj::cli
