// korvel-cli npce: the window's read and write.
#include "common/registry.h"
#include "console/image_actions.h"
#include "npce/npce.h"

namespace kj::npce {

namespace {

int run(cli::Context& context, const std::string& action, cli::Options& options) {
    auto bridge = context.bridges(kFamily.firmware);
    ImageTool tool(*bridge, context.ui, kFamily);
    return cli::imageAction(context, tool, action, options);
}

}  // namespace

constexpr cli::Action kActions[] = {
    cli::kRead,
    cli::kWrite.with({},
                     "backs the chip up, writes the file into it and reads it back; a file that is not\n"
                     "131072 bytes only with --any-size, padded with FFh or cut"),
    cli::kVerify,
    cli::kRestore,
};

const cli::Tool kCliTool{.family = &kFamily, .actions = kActions, .run = run};
KJ_REGISTER(cli::Tool, kCliTool)

}  // namespace kj::npce
