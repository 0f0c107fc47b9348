#include "sim/bench.h"

#include <algorithm>
#include <fstream>

#include "sim/flash_chip.h"

namespace kjsim {

namespace {
constexpr uint8_t kPadding = 0xFF;

void applyDeadCells(const Bench& bench, const BenchOptions& options) {
    for (const auto& [name, offset] : options.deadCells) {
        auto* flash = dynamic_cast<FlashChip*>(bench.chip(name));
        if (!flash || offset >= flash->size())
            throw std::invalid_argument("no cell " + std::to_string(offset) + " on chip \"" + name + "\"");
        flash->setDeadCell(offset);
    }
}
}  // namespace

std::vector<const ChipEntry*> chipEntries() {
    auto all = kj::Registry<ChipEntry>::entries();
    std::sort(all.begin(), all.end(), [](const ChipEntry* a, const ChipEntry* b) { return a->name < b->name; });
    return all;
}

std::vector<const ChipEntry*> chipsBehind(std::string_view firmware) {
    std::vector<const ChipEntry*> out;
    for (const ChipEntry* entry : chipEntries())
        if (entry->firmware.name == firmware) out.push_back(entry);
    return out;
}

const ChipEntry* findChip(std::string_view name) {
    for (const ChipEntry* entry : chipEntries())
        if (entry->name == name) return entry;
    return nullptr;
}

const ChipEntry* flashChipOf(std::string_view firmware) {
    for (const ChipEntry* entry : chipsBehind(firmware))
        if (entry->familyFlash) return entry;
    return nullptr;
}

ChipModel* Bench::chip(std::string_view name) const {
    for (const auto& chip : chips)
        if (chip.entry->name == name) return chip.model.get();
    return nullptr;
}

Bench makeBench(const BenchOptions& options) {
    Bench bench;
    bench.programmer = options.version.empty() ? std::make_shared<Programmer>(options.family)
                                               : std::make_shared<Programmer>(options.family, options.version);
    bench.programmer->faults = options.faults;
    for (const ChipEntry* entry : chipsBehind(options.family)) {
        bench.chips.push_back({entry, entry->make(options)});
        bench.programmer->addChip(bench.chips.back().model);
    }
    applyDeadCells(bench, options);
    return bench;
}

std::shared_ptr<Programmer> makeProgrammer(const BenchOptions& options) { return makeBench(options).programmer; }

std::shared_ptr<SimBridge> makeSimBridge(const Bench& bench) {
    return std::make_shared<SimBridge>(std::vector{SimSlot::programmer(bench.programmer)});
}

Bytes loadImageFile(const std::string& path, size_t size) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    Bytes image(size, kPadding);
    in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(size));
    if (in.bad()) throw std::runtime_error("cannot read " + path);
    return image;
}

Bytes toolImage(const ChipEntry& entry, const ChipModel& chip) {
    return entry.image ? entry.image(chip) : dynamic_cast<const FlashChip&>(chip).flash();
}

Bytes imageOr(const std::string& file, size_t size, Bytes fallback) {
    return file.empty() ? fallback : loadImageFile(file, size);
}

int positiveArgument(const std::string& flag, const std::string& value) {
    try {
        size_t used = 0;
        const int n = std::stoi(value, &used);
        if (used == value.size() && n > 0) return n;
    } catch (const std::exception&) {}
    throw std::invalid_argument(flag + " needs a positive number, not \"" + value + "\"");
}

long argumentInRange(const std::string& flag, const std::string& value, long min, long max) {
    try {
        size_t used = 0;
        const long n = std::stol(value, &used, 0);
        if (used == value.size() && n >= min && n <= max) return n;
    } catch (const std::exception&) {}
    throw std::invalid_argument(flag + " needs a number from " + std::to_string(min) + " to " + std::to_string(max) +
                                ", not \"" + value + "\"");
}

}  // namespace kjsim
