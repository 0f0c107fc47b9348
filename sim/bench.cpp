#include "sim/bench.h"

namespace kjsim {

namespace {
void addV41Chips(Bench& bench, const BenchOptions& options) {
    bench.kb90xx = options.flashFile.empty()
                       ? std::make_shared<Kb90xxChip>()
                       : std::make_shared<Kb90xxChip>(loadImageFile(options.flashFile, kKbFlashSize));
    bench.eeprom = options.eepromFile.empty()
                       ? std::make_shared<EepromChip>()
                       : std::make_shared<EepromChip>(loadImageFile(options.eepromFile, kEepromSize));
    bench.keyboard = std::make_shared<KeyboardChip>(KeyboardChip::demoScript(), true);

    bench.kb90xx->noChip = options.noChip;
    bench.eeprom->notResponding = options.noChip;
    bench.eeprom->writeProtected = options.eepromWriteProtected;

    bench.programmer->addChip(bench.kb90xx);
    bench.programmer->addChip(bench.eeprom);
    bench.programmer->addChip(bench.keyboard);
}

// What stands behind each firmware family.
struct BenchEntry {
    Family family;
    void (*addChips)(Bench& bench, const BenchOptions& options);
};

constexpr BenchEntry kEntries[] = {
    {.family = Family::V41, .addChips = addV41Chips},
    {.family = Family::V42, .addChips = addMec16Chips},
    {.family = Family::Ite, .addChips = addIteChips},
    {.family = Family::Npce, .addChips = addNpceChips},
};

}  // namespace

Bench makeBench(const BenchOptions& options) {
    Bench bench;
    bench.programmer = options.version.empty() ? std::make_shared<Programmer>(options.family)
                                               : std::make_shared<Programmer>(options.family, options.version);
    bench.programmer->faults = options.faults;
    for (const auto& entry : kEntries) {
        if (entry.family == options.family) entry.addChips(bench, options);
    }
    return bench;
}

std::shared_ptr<Programmer> makeProgrammer(const BenchOptions& options) { return makeBench(options).programmer; }

std::shared_ptr<SimBridge> makeSimBridge(const Bench& bench) {
    return std::make_shared<SimBridge>(std::vector{SimSlot::programmer(bench.programmer)});
}

}  // namespace kjsim
