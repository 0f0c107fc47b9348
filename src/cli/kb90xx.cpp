#include <algorithm>
#include <chrono>
#include <iostream>

#include "cli/cli.h"
#include "kb90xx/cable_help.h"
#include "kb90xx/kb90xx.h"

namespace kj::cli {

namespace {

// Every wait of an operation is bounded; this only keeps the command from
// outliving a worker that could not end.
constexpr std::chrono::hours kOperationBound{24};

int runStream(Context& context, void (Kb90xxProgrammer::*start)()) {
    auto bridge = context.bridges("V41");
    Kb90xxProgrammer programmer(*bridge, context.ui);
    programmer.link().setStopFlag(&context.interrupted);
    (programmer.*start)();
    programmer.operation().waitIdle(kOperationBound);
    return programmer.lastSucceeded() ? kExitSuccess : kExitFailure;
}

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

// Prints what the window's help label would show.
int runCable(Context& context, Options& options) {
    const auto basePath = options.value("--base");
    if (!basePath || basePath->empty()) throw UsageError{"--base FILE is required"};
    const auto boardText = options.value("--board");
    if (!boardText) throw UsageError{"--board N is required"};
    const int width = cableWidth(options);
    const bool reversed = options.flag("--reversed");
    options.finish();
    const auto base = loadBase(*basePath);
    if (!base) {
        context.ui.log(kNoKb90xxBase);
        return kExitFailure;
    }
    if (base->empty()) throw UsageError{*basePath + " lists no motherboard"};
    // The board is checked against the lines the base really has.
    Options board({"--board", *boardText});
    const long line = board.number("--board", 1, static_cast<long>(base->size()));
    const auto help = kb90xxCableHelp((*base)[static_cast<size_t>(line - 1)], width, !reversed);
    if (help.kind == CableHelp::Kind::ValueError) {
        context.ui.errorBox(help.text);
        return kExitFailure;
    }
    context.ui.log(help.text);
    return help.kind == CableHelp::Kind::Connect ? kExitSuccess : kExitFailure;
}

}  // namespace

int runKb90xx(Context& context, const std::string& action, Options& options) {
    if (action == "read") {
        context.ui.outputFile = outputPath(options);
        options.finish();
        return runStream(context, &Kb90xxProgrammer::startRead);
    }
    if (action == "write") {
        context.ui.inputFile = inputPath(options);
        options.finish();
        return runStream(context, &Kb90xxProgrammer::startWrite);
    }
    if (action == "cable") return runCable(context, options);
    throw UsageError{"kb90xx needs an action: read, write or cable"};
}

}  // namespace kj::cli
