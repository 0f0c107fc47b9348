// korvel-cli mec16: the window's response check, help, read, erase and write.
#include "common/registry.h"
#include "console/console.h"
#include "mec16/mec16.h"

namespace kj::mec16 {

namespace {

using namespace cli;

// The response check ends at once on Ctrl-C.
int runCheck(ImageTool& tool) {
    watchInterrupts(&tool.operation(), OnInterrupt::Abort);
    tool.sessions<Mec16Sessions>().checkResponse();
    return awaitEnd(tool.operation(), OnInterrupt::Abort);
}

int run(Context& context, const std::string& action, Options& options) {
    if (action == "help") {
        options.finish();
        for (std::string_view line : kHelpLines) context.ui.log(line);
        return kExitSuccess;
    }
    const bool info = options.flag("--info");
    if (info && action != "read" && action != "erase") throw UsageError{"--info goes with read and erase only"};
    if (action == "check") options.finish();
    auto bridge = context.bridges(kFamily.firmware);
    ImageTool tool(*bridge, context.ui, kFamily);
    if (action == "check") return runCheck(tool);
    if (action == "erase") return eraseChip(tool, options, info);
    // Ctrl-C is the window's stop: the blocks read so far are kept.
    if (action == "read") return readImage(context, tool, options, OnInterrupt::Stop, info);
    return imageAction(context, tool, action, options);
}

}  // namespace

const cli::Tool kCliTool{
    .name = "mec16",
    .usage =
        "mec16 check\n"
        "    the chip ID, four registers and the write protection (FWP, Boot_Lock)\n"
        "mec16 help\n"
        "    the wiring help of the window; no programmer\n"
        "mec16 read --output FILE [--info] [--read-twice] [--force]\n"
        "    MAIN (196608 bytes), with --info INFO after it (198656 bytes in all);\n"
        "    Ctrl-C stops and keeps the blocks read so far\n"
        "mec16 erase [--info] [--no-backup | --backup FILE [--force]]\n"
        "    erases MAIN, with --info MAIN and INFO, after a backup of what it erases\n"
        "mec16 write --input FILE [--no-backup | --backup FILE [--force]] [--no-verify] [--any-size] [--allow-blank]\n"
        "    writes MAIN from the file's first 196608 bytes, erasing it first when it is not blank;\n"
        "    a file of another size than 196608 or 198656 bytes only with --any-size\n"
        "mec16 verify --input FILE\n"
        "    reads MAIN (and INFO for a 198656-byte file) and compares it with the file\n",
    .run = run,
    .family = &kFamily,
};
KJ_REGISTER(cli::Tool, kCliTool)

}  // namespace kj::mec16
