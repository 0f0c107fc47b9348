// korvel-cli mec16: the window's response check, help, read, erase and write.
#include "common/registry.h"
#include "console/image_actions.h"
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

constexpr Option kInfoOption{.name = "--info", .help = "INFO as well as MAIN"};
constexpr const Option* kInfoOptions[] = {&kInfoOption};

constexpr cli::Action kActions[] = {
    {.name = "check", .help = "the chip ID, four registers and the write protection (FWP, Boot_Lock)"},
    {.name = "help", .help = "the wiring help of the window; no programmer"},
    cli::kRead.with(kInfoOptions,
                    "MAIN (196608 bytes), with --info INFO after it (198656 bytes in all);\n"
                    "Ctrl-C stops and keeps the blocks read so far"),
    cli::kErase.with(kInfoOptions, "erases MAIN, with --info MAIN and INFO, after a backup of what it erases"),
    cli::kWrite.with({},
                     "writes MAIN from the file's first 196608 bytes, erasing it first when it is not\n"
                     "blank; a file of another size than 196608 or 198656 bytes only with --any-size"),
    cli::kVerify.with({}, "reads MAIN (and INFO for a 198656-byte file) and compares it with the file"),
    cli::kRestore,
};

const cli::Tool kCliTool{.family = &kFamily, .actions = kActions, .run = run};
KJ_REGISTER(cli::Tool, kCliTool)

}  // namespace kj::mec16
