#include <chrono>

#include "cli/cli.h"
#include "keyboard/keyboard.h"

namespace kj::cli {

namespace {

constexpr long kMaxSeconds = 24L * 60 * 60;

// The command line's cells: it keeps the colours itself and prints each
// toggle as "A-B red" or "A-B yellow". Also the scan's timer: the command's
// own clock ticks only while the scan has it enabled.
class CliKeyboard : public KeyboardPanel, public ScanTimer {
public:
    CliKeyboard(CliFrontend& ui, bool muted) : ui_(ui), muted_(muted) {}

    CellColour toggleCell(int a, int b) override {
        const CellColour now = cells_.toggle(a, b);
        ui_.log(std::to_string(a) + "-" + std::to_string(b) + " " + colourName(now));
        return now;
    }
    bool soundMuted() override { return muted_; }
    void enable() override { ticking_ = true; }
    void disable() override { ticking_ = false; }
    bool ticking() const { return ticking_; }

private:
    CliFrontend& ui_;
    const bool muted_;
    CellColours cells_;
    std::atomic<bool> ticking_{false};
};

std::optional<long> secondsOption(Options& options) {
    const auto text = options.value("--seconds");
    if (!text) return std::nullopt;
    Options one({"--seconds", *text});
    return one.number("--seconds", 1, kMaxSeconds);
}

// The 100 ms clock: ticks the scan until it ends, and asks it to stop once on
// Ctrl-C or when the time is up.
void paceScan(KeyboardTester& tester, const CliKeyboard& clock, const std::atomic<bool>& interrupted,
              std::optional<long> seconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = seconds ? Clock::now() + std::chrono::seconds(*seconds) : Clock::time_point::max();
    bool stopAsked = false;
    while (!tester.operation().waitIdle(kScanTickInterval)) {
        if (!stopAsked && (interrupted || Clock::now() >= deadline)) {
            tester.requestStop();
            stopAsked = true;
        }
        if (clock.ticking()) tester.tick();
    }
}

}  // namespace

int runKeyboard(Context& context, const std::string& action, Options& options) {
    if (action != "scan") throw UsageError{"keyboard: unknown action \"" + action + "\" (use scan)"};
    const bool noSound = options.flag("--no-sound");
    const auto seconds = secondsOption(options);
    options.finish();

    auto bridge = context.bridges("V41");
    CliKeyboard keyboard(context.ui, noSound);
    KeyboardTester tester(*bridge, context.ui, keyboard, keyboard);
    if (!tester.startScan()) return kExitFailure;
    paceScan(tester, keyboard, context.interrupted, seconds);
    return tester.lastSucceeded() ? kExitSuccess : kExitFailure;
}

}  // namespace kj::cli
