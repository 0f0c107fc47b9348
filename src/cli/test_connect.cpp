// korvel-cli test-connect: the connection test window's list, on standard output.
#include "common/registry.h"
#include "console/console.h"
#include "operation/connection_test.h"

namespace kj::cli {

namespace {

// On a worker like every operation; Ctrl-C ends it at once.
int runTestConnect(Context& context, const std::string&, Options& options) {
    options.finish();
    auto bridge = context.bridges(kConnectionTestFamily.firmware);
    Operation test(*bridge, context.ui, kConnectionTestFamily);
    watchInterrupts(&test, OnInterrupt::Abort);
    test.launch([&] { return runConnectionTest(*bridge, test.ui()); });
    return awaitEnd(test, OnInterrupt::Abort);
}

constexpr Action kActions[] = {{.help = "the connection test window's list: the ports, the driver and the firmware"}};
const Tool kTestConnect{.ownName = "test-connect", .actions = kActions, .run = runTestConnect};

}  // namespace

KJ_REGISTER(Tool, kTestConnect)

}  // namespace kj::cli
