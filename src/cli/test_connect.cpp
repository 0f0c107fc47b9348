#include "console/console.h"
#include "link/connection_test.h"

namespace kj::cli {

int runTestConnect(Context& context, const std::string&, Options& options) {
    options.finish();
    return runConnectionTest(*context.bridges("V41"), context.ui) ? kExitSuccess : kExitFailure;
}

}  // namespace kj::cli
