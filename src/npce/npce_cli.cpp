// korvel-cli npce: the window's read and write.
#include "common/registry.h"
#include "console/console.h"
#include "npce/npce.h"

namespace kj::npce {

namespace {

int run(cli::Context& context, const std::string& action, cli::Options& options) {
    auto bridge = context.bridges(kFamily.firmware);
    ImageTool tool(*bridge, context.ui, kFamily);
    return cli::imageAction(context, tool, action, options);
}

}  // namespace

const cli::Tool kCliTool{
    .name = "npce",
    .usage =
        "npce read --output FILE [--read-twice] [--force]\n"
        "npce write --input FILE [--no-backup | --backup FILE [--force]] [--no-verify] [--any-size] [--allow-blank]\n"
        "    a file that is not 131072 bytes is written only with --any-size, padded with 0xFF or cut\n"
        "npce verify --input FILE\n"
        "    reads the flash and compares it with the file; writes nothing\n",
    .run = run,
    .family = &kFamily,
};
KJ_REGISTER(cli::Tool, kCliTool)

}  // namespace kj::npce
