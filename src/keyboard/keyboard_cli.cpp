// korvel-cli keyboard: the tester's scan, each change of a cell as a line.
#include <chrono>

#include "common/registry.h"
#include "console/image_actions.h"
#include "keyboard/keyboard.h"

namespace kj::keyboard {

namespace {

using namespace cli;

constexpr long kMaxSeconds = 24L * 60 * 60;

std::optional<long> secondsOption(Options& options) {
    const auto text = options.value("--seconds");
    if (!text) return std::nullopt;
    return parseNumber("--seconds", *text, 1, kMaxSeconds);
}

// The saved profile the scan names its keys by; none without --profile.
LoadedProfile profileOption(Options& options) {
    const auto model = options.value("--profile");
    if (!model) return {};
    std::string error;
    auto loaded = loadProfile(*model, error);
    if (!loaded) throw UsageError{error};
    return std::move(*loaded);
}

// "1-2 red", "Esc (1-2) yellow", "3-4 short?".
void printCells(ConsoleFrontend& ui) {
    ui.onEvent = [&ui](const std::any& event) {
        if (const auto* cell = std::any_cast<CellEvent>(&event))
            ui.log(pairName(cell->pair, cell->key) + " " + colourName(cell->colour));
    };
}

// Waits for the scan to end, and asks it to stop once the time is up (Ctrl-C
// asks through the interrupt handler).
void awaitScan(KeyboardTester& tester, std::optional<long> seconds) {
    const Operation& scan = tester.operation();
    if (seconds && !scan.waitIdle(std::chrono::seconds(*seconds))) tester.requestStop();
    while (!scan.waitIdle(std::chrono::seconds(1))) continue;
}

int run(Context& context, const std::string&, Options& options) {
    const bool noSound = options.flag("--no-sound");
    const auto seconds = secondsOption(options);
    auto profile = profileOption(options);
    options.finish();

    auto bridge = context.bridges(kFamily.firmware);
    printCells(context.ui);
    KeyboardTester tester(*bridge, context.ui);
    tester.setMuted(noSound);
    watchInterrupts(&tester.operation(), OnInterrupt::Stop);
    const bool started = tester.startScan(std::move(profile));
    if (started) awaitScan(tester, seconds);
    watchInterrupts(nullptr, OnInterrupt::Stop);
    context.ui.onEvent = nullptr;
    return started && tester.lastSucceeded() ? kExitSuccess : kExitFailure;
}

}  // namespace

constexpr Option kNoSoundOption{.name = "--no-sound", .help = "no beep for a closed pair"};
constexpr Option kSecondsOption{.name = "--seconds", .value = "N", .help = "stop after N seconds (else at Ctrl-C)"};
constexpr Option kProfileOption{
    .name = "--profile", .value = "NAME", .help = "name the keys by a profile learnt in the window"};
constexpr const Option* kScanOptions[] = {&kNoSoundOption, &kSecondsOption, &kProfileOption};

constexpr cli::Action kActions[] = {{
    .name = "scan",
    .own = kScanOptions,
    .help = "scans until Ctrl-C or for N seconds; each changed cell is a line, then the pairs closed;\n"
            "a pair closed from the start is marked \"short?\"; with a profile each pair names its key,\n"
            "and the keys not pressed are listed at the end",
}};

const cli::Tool kCliTool{.family = &kFamily, .actions = kActions, .run = run};
KJ_REGISTER(cli::Tool, kCliTool)

}  // namespace kj::keyboard
