// korvel-cli kb90xx: the window's read and write, and its cable help.
#include <algorithm>
#include <iostream>

#include "common/registry.h"
#include "console/image_actions.h"
#include "kb90xx/cable_help.h"
#include "kb90xx/kb90xx.h"

namespace kj::kb90xx {

namespace {

using namespace cli;

int cableWidth(Options& options) {
    const long width = options.number("--ffc", 1, 99);
    const auto named = [&](std::string_view item) { return cableWidthOf(item) == width; };
    if (std::ranges::none_of(kKb90xxCableWidths, named)) {
        std::string widths;
        for (auto item : kKb90xxCableWidths) widths += " " + std::string(item.substr(0, 2));
        throw UsageError{"--ffc must be one of" + widths};
    }
    return static_cast<int>(width);
}

// A line number of the base, or a part of exactly one board's line.
size_t boardIndex(const std::vector<std::string>& base, const std::string& board) {
    if (!board.empty() && std::ranges::all_of(board, [](unsigned char c) { return std::isdigit(c); }))
        return static_cast<size_t>(parseNumber("--board", board, 1, static_cast<long>(base.size())) - 1);
    std::vector<size_t> matches;
    for (size_t i = 0; i < base.size(); ++i) {
        if (base[i].find(board) != std::string::npos) matches.push_back(i);
    }
    if (matches.size() == 1) return matches.front();
    throw UsageError{matches.empty() ? "no board of the base matches \"" + board + "\""
                                     : std::to_string(matches.size()) + " boards match \"" + board +
                                           "\"; give more of the name or the line number (--list)"};
}

// Prints what the window's help label would show.
int runCable(Context& context, Options& options) {
    const auto basePath = options.value("--base").value_or(baseFilePath(kKb90xxBaseFile).string());
    const bool list = options.flag("--list");
    const auto board = list ? std::nullopt : options.value("--board");
    if (!list && !board) throw UsageError{"--board N or --list is required"};
    const int width = list ? 0 : cableWidth(options);
    const bool reversed = options.flag("--reversed");
    options.finish();
    std::string error;
    const auto base = loadBase(basePath, error);
    if (!base) {
        context.ui.log(kNoKb90xxBase);
        std::cerr << "korvel-cli: " << fileProblem(basePath, error) << '\n';
        return kExitFailure;
    }
    if (base->empty()) throw UsageError{basePath + " lists no motherboard"};
    if (list) {
        for (size_t i = 0; i < base->size(); ++i) std::cout << i + 1 << '\t' << (*base)[i] << '\n';
        return kExitSuccess;
    }
    const size_t index = boardIndex(*base, *board);
    std::cerr << "korvel-cli: board " << index + 1 << ": " << (*base)[index] << '\n';
    const auto help = kb90xxCableHelp((*base)[index], width, !reversed);
    if (help.kind == CableHelp::Kind::ValueError) {
        context.ui.errorBox(help.text);
        return kExitFailure;
    }
    context.ui.log(help.text);
    return help.kind == CableHelp::Kind::Connect ? kExitSuccess : kExitFailure;
}

int run(Context& context, const std::string& action, Options& options) {
    if (action == "cable") return runCable(context, options);
    auto bridge = context.bridges(kFamily.firmware);
    ImageTool tool(*bridge, context.ui, kFamily);
    return imageAction(context, tool, action, options);
}

}  // namespace

constexpr Option kBaseOption{
    .name = "--base", .value = "FILE", .help = "the base of connections (default: the one in the data folder)"};
constexpr Option kBoardOption{.name = "--board",
                              .value = "N|TEXT",
                              .help = "the board: its line in the base (1 = the first) or a part of its name"};
constexpr Option kFfcOption{.name = "--ffc", .value = "W", .help = "the cable's width in pins"};
constexpr Option kReversedOption{.name = "--reversed", .help = "a reversed cable"};
constexpr Option kListOption{.name = "--list", .help = "list the boards of the base instead"};
constexpr const Option* kCableOptions[] = {&kBaseOption, &kBoardOption, &kFfcOption, &kReversedOption, &kListOption};

constexpr cli::Action kActions[] = {
    cli::kRead,
    cli::kWrite.with({},
                     "backs the chip up, writes the file into it and reads it back; a file that is not\n"
                     "131072 bytes only with --any-size"),
    cli::kVerify,
    cli::kRestore,
    {.name = "cable", .own = kCableOptions, .help = "the cable help of the window: --board N|TEXT --ffc W, or --list"},
};

const cli::Tool kCliTool{.family = &kFamily, .actions = kActions, .run = run};
KJ_REGISTER(cli::Tool, kCliTool)

}  // namespace kj::kb90xx
