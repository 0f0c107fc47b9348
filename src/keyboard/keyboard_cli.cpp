// korvel-cli keyboard: the tester's scan, each toggle as a line.
#include <chrono>

#include "common/registry.h"
#include "console/console.h"
#include "keyboard/keyboard.h"

namespace kj::keyboard {

namespace {

using namespace cli;

constexpr long kMaxSeconds = 24L * 60 * 60;

// The command line's cells: it keeps the colours itself and prints each
// toggle as "A-B red" or "A-B yellow".
class CliKeyboard : public KeyboardPanel {
public:
    CliKeyboard(ConsoleFrontend& ui, bool muted) : ui_(ui), muted_(muted) {}

    void toggleCell(int a, int b) override {
        const CellColour now = cells_.toggle(a, b);
        closed_.add(a, b);
        ui_.log(pairText(a, b) + " " + colourName(now));
    }
    bool soundMuted() override { return muted_; }

    // Every pair reported during the scan, in line order.
    std::string summary() const { return closed_.line(); }

private:
    ConsoleFrontend& ui_;
    const bool muted_;
    CellColours cells_;
    ClosedPairs closed_;
};

std::optional<long> secondsOption(Options& options) {
    const auto text = options.value("--seconds");
    if (!text) return std::nullopt;
    return parseNumber("--seconds", *text, 1, kMaxSeconds);
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
    options.finish();

    auto bridge = context.bridges(kFamily.firmware);
    CliKeyboard keyboard(context.ui, noSound);
    KeyboardTester tester(*bridge, context.ui, keyboard);
    watchInterrupts(&tester.operation(), OnInterrupt::Stop);
    if (!tester.startScan()) return kExitFailure;
    awaitScan(tester, seconds);
    watchInterrupts(nullptr, OnInterrupt::Stop);
    if (tester.began()) context.ui.log(keyboard.summary());
    return tester.lastSucceeded() ? kExitSuccess : kExitFailure;
}

}  // namespace

const cli::Tool kCliTool{
    .name = "keyboard",
    .usage =
        "keyboard scan [--no-sound] [--seconds N]\n"
        "    scans until Ctrl-C or for N seconds; each toggled pair is a line, then the pairs closed\n",
    .run = run,
    .family = &kFamily,
};
KJ_REGISTER(cli::Tool, kCliTool)

}  // namespace kj::keyboard
