// korvel-cli test-connect: the connection test window's list, on standard output.
#include "common/registry.h"
#include "console/console.h"
#include "operation/connection_test.h"

namespace kj::cli {

namespace {

int runTestConnect(Context& context, const std::string&, Options& options) {
    options.finish();
    return runConnectionTest(*context.bridges(kConnectionTestFamily.firmware), context.ui) ? kExitSuccess
                                                                                           : kExitFailure;
}

const Tool kTestConnect{.name = "test-connect", .usage = "test-connect\n", .run = runTestConnect};

}  // namespace

KJ_REGISTER(Tool, kTestConnect)

}  // namespace kj::cli
