// A programmer with its family's standard chips on the bench, ready to be put
// behind the in-process bridge or the pseudo-terminal server. Each chip file
// registers a ChipEntry: which firmware it sits behind, how it is made, its
// korvel-progsim flags, the product family whose image it holds. Nothing here
// lists the chips.
#pragma once

#include <any>
#include <map>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <typeindex>
#include <vector>

#include "sim/programmer.h"
#include "sim/sim_bridge.h"

namespace kj {
struct Family;
}

namespace kjsim {

struct BenchOptions {
    // The firmware's name.
    std::string family{kj::firmware::kV41};
    std::string version{};     // answer to 'B'; empty: the family's default
    std::string flashFile{};   // the family's flash image; empty: a test pattern
    std::string eepromFile{};  // EDID EEPROM image; empty: a built-in panel EDID
    Faults faults{};
    bool noChip = false;  // nothing wired to the programmer: no chip answers
    // Flash cells that keep their value when programmed: chip name, offset.
    std::map<std::string, size_t> deadCells{};
    // Each chip's own faults by their type, taken by the chip when it is made.
    std::map<std::type_index, std::any> chipFaultSets{};

    template <class Faults>
    Faults& chipFaults() {
        std::any& set = chipFaultSets[typeid(Faults)];
        if (!set.has_value()) set = Faults{};
        return std::any_cast<Faults&>(set);
    }
    template <class Faults>
    Faults chipFaults() const {
        const auto it = chipFaultSets.find(typeid(Faults));
        return it == chipFaultSets.end() ? Faults{} : std::any_cast<const Faults&>(it->second);
    }
};

// One korvel-progsim option of a chip: its name, its argument (none for a
// switch), what it does (lines after the first are indented under it), and
// how it sets the options.
struct ChipFlag {
    std::string_view name;
    std::string_view argument;
    std::string_view help;
    void (*apply)(BenchOptions& options, const std::string& flag, const std::string& value);
};

struct ChipEntry {
    std::string_view name;    // "kb90xx", "eeprom", ...
    kj::FirmwareId firmware;  // the firmware it sits behind
    // Throws std::runtime_error when its image file cannot be read.
    std::shared_ptr<ChipModel> (*make)(const BenchOptions& options);
    std::span<const ChipFlag> flags{};
    bool familyFlash = false;  // the family's flash: what --flash loads, --dead-cell reaches
    size_t writableSize = 0;   // bytes a write reaches, from offset 0
    // For whoever drives every chip alike: the product family whose tool
    // moves its image (null: none), the image as that tool reads it (null: the
    // whole flash), and (when a plain write of the image will not do) the chip
    // made ready for a write and the image to send.
    const kj::Family* family = nullptr;
    Bytes (*image)(const ChipModel& chip) = nullptr;
    Bytes (*prepareWrite)(ChipModel& chip, Bytes image) = nullptr;
};

// Every registered chip, by name; and those behind one firmware.
std::vector<const ChipEntry*> chipEntries();
std::vector<const ChipEntry*> chipsBehind(std::string_view firmware);
const ChipEntry* findChip(std::string_view name);

// The chip that --flash loads for a firmware; null when it has none.
const ChipEntry* flashChipOf(std::string_view firmware);

struct BenchChip {
    const ChipEntry* entry;
    std::shared_ptr<ChipModel> model;
};

// The programmer and its family's chips.
struct Bench {
    std::shared_ptr<Programmer> programmer;
    std::vector<BenchChip> chips;

    ChipModel* chip(std::string_view name) const;
    template <class Chip>
    Chip* find() const {
        for (const auto& chip : chips)
            if (auto* model = dynamic_cast<Chip*>(chip.model.get())) return model;
        return nullptr;
    }
    // Throws std::logic_error when the family has no such chip.
    template <class Chip>
    Chip& chip() const {
        if (Chip* model = find<Chip>()) return *model;
        throw std::logic_error("no such chip on the bench");
    }
};

// Throws std::runtime_error when an image file cannot be read, and
// std::invalid_argument for an unknown family or a dead cell off its chip.
Bench makeBench(const BenchOptions& options);
std::shared_ptr<Programmer> makeProgrammer(const BenchOptions& options);
// A bridge with the bench's programmer as its only device.
std::shared_ptr<SimBridge> makeSimBridge(const Bench& bench);

// The image in `file` (see loadImageFile), or `fallback` when no file is named.
Bytes imageOr(const std::string& file, size_t size, Bytes fallback);

// The image of the chip as its entry's family reads it.
Bytes toolImage(const ChipEntry& entry, const ChipModel& chip);

// Flag values, for the rows of ChipFlag; both throw std::invalid_argument
// naming the flag. A positive number is decimal; one in a range may also be
// hexadecimal with 0x.
int positiveArgument(const std::string& flag, const std::string& value);
long argumentInRange(const std::string& flag, const std::string& value, long min, long max);

}  // namespace kjsim
