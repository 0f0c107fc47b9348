// korvel-cli ite: the routing of the window's APPLY (from a line of the base or
// pin by pin), its link check, read and write.
#include <climits>
#include <functional>
#include <iostream>

#include "common/registry.h"
#include "console/image_actions.h"
#include "ite/ite.h"

namespace kj::ite {

namespace {

using namespace cli;

// The selectors as the window would hold them after choosing line `board` of
// the base (and clicking the orientation box, when reversed); nothing when the
// line cannot be used, the window's lines logged.
std::optional<Routing> boardRouting(Context& context, const std::string& basePath, const std::string& board,
                                    bool reversed) {
    const long number = parseNumber("--board", board, 1, LONG_MAX);
    std::string error;
    const auto base = loadBase(basePath, error);
    if (!base) {
        context.ui.log(noBaseEntry(basePath));
        std::cerr << "korvel-cli: " << fileProblem(basePath, error) << '\n';
        return std::nullopt;
    }
    if (base->empty()) throw UsageError{basePath + " lists no motherboard"};
    if (static_cast<size_t>(number) > base->size())
        throw UsageError{"--board: " + basePath + " has " + std::to_string(base->size()) + " lines"};
    const std::string& line = (*base)[static_cast<size_t>(number - 1)];
    std::cerr << "korvel-cli: board " << number << ": " << line << '\n';
    const AppliedLine applied = applyBaseLine(line, Routing{});
    if (!applied.complete) {
        context.ui.log(applied.message);
        return std::nullopt;
    }
    if (!reversed) return applied.pins;
    const Mirroring mirrored = mirrorRouting(line, applied.pins);
    if (!mirrored.done) {
        context.ui.log(mirrored.message);
        return std::nullopt;
    }
    return mirrored.pins;
}

Routing listedRouting(const std::string& text) {
    std::string error;
    const auto pins = parsePinList(text, error);
    if (!pins) throw UsageError{"--pins: " + error};
    return *pins;
}

// Runs one of the short operations, which Ctrl-C ends at once.
int runShort(Context& context, const std::function<void(IteSessions&)>& operation) {
    auto bridge = context.bridges(kFamily.firmware);
    ImageTool tool(*bridge, context.ui, kFamily);
    watchInterrupts(&tool.operation(), OnInterrupt::Abort);
    operation(tool.sessions<IteSessions>());
    return awaitEnd(tool.operation(), OnInterrupt::Abort);
}

int runApply(Context& context, Options& options) {
    const auto list = options.value("--pins");
    const auto basePath = options.value("--base");
    const auto board = options.value("--board");
    const bool reversed = options.flag("--reversed");
    if (list && (basePath || board || reversed))
        throw UsageError{"--pins names the pins itself; --base, --board and --reversed choose a line of the base"};
    if (!list && !board) throw UsageError{"--board N or --pins SIGNAL=PIN[,SIGNAL=PIN...] is required"};
    options.finish();
    const auto pins =
        list ? listedRouting(*list)
             : boardRouting(context, basePath.value_or(baseFilePath(kBaseFile).string()), *board, reversed);
    if (!pins) return kExitFailure;
    std::cerr << "korvel-cli: routing: " << routingText(*pins) << '\n';
    return runShort(context, [&](IteSessions& sessions) { sessions.applyRouting(*pins); });
}

int run(Context& context, const std::string& action, Options& options) {
    if (action == "apply") return runApply(context, options);
    if (action == "check") {
        options.finish();
        return runShort(context, [](IteSessions& sessions) { sessions.checkConnection(); });
    }
    auto bridge = context.bridges(kFamily.firmware);
    ImageTool tool(*bridge, context.ui, kFamily);
    return imageAction(context, tool, action, options);
}

}  // namespace

constexpr Option kBaseOption{
    .name = "--base", .value = "FILE", .help = "the base of pinouts (default: the one in the data folder)"};
constexpr Option kBoardOption{.name = "--board", .value = "N", .help = "the board's line in the base (1 = the first)"};
constexpr Option kReversedOption{.name = "--reversed", .help = "mirror the line for a reversed cable"};
constexpr Option kPinsOption{
    .name = "--pins",
    .value = "SIGNAL=PIN[,SIGNAL=PIN...]",
    .help =
        "the pins themselves instead of a line of the base: SIGNAL is PD0 ... PD7,\n"
        "BUSY, STB, AFD, INIT, SLIN, KSI4 or KSI5; PIN is 1 to 32 or NC; the signals\n"
        "not named are NC",
};
constexpr const Option* kApplyOptions[] = {&kBaseOption, &kBoardOption, &kReversedOption, &kPinsOption};

constexpr cli::Action kActions[] = {
    {.name = "apply",
     .own = kApplyOptions,
     .help = "sends the routing of the window's APPLY, from --board N or --pins; the programmer\n"
             "keeps it for the actions below"},
    {.name = "check", .help = "checks that the controller answers and logs its ID and revision"},
    cli::kRead,
    cli::kWrite.with({},
                     "erases the flash and writes the file; one that is not 131072 bytes only with\n"
                     "--any-size"),
    cli::kVerify,
    cli::kRestore,
};

const cli::Tool kCliTool{.family = &kFamily, .actions = kActions, .run = run};
KJ_REGISTER(cli::Tool, kCliTool)

}  // namespace kj::ite
