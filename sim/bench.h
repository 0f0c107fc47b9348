// A programmer with its family's standard chips on the bench, ready to be put
// behind the in-process bridge or the pseudo-terminal server.
#pragma once

#include <memory>
#include <string>

#include "sim/eeprom_chip.h"
#include "sim/ite_chip.h"
#include "sim/kb90xx_chip.h"
#include "sim/keyboard_chip.h"
#include "sim/mec16_chip.h"
#include "sim/npce_chip.h"
#include "sim/programmer.h"
#include "sim/sim_bridge.h"

namespace kjsim {

struct BenchOptions {
    Family family = Family::V41;
    std::string version{};     // answer to 'B'; empty: the family's default
    std::string flashFile{};   // the family's flash image; empty: a test pattern
    std::string eepromFile{};  // EDID EEPROM image; empty: a built-in panel EDID
    Faults faults{};
    bool noChip = false;  // nothing wired to the programmer: no chip answers
    bool eepromWriteProtected = false;
    // Each family's own chip faults.
    Mec16Faults mec16{};
    IteFaults ite{};
    NpceFaults npce{};
};

// The programmer and its chips; a chip the family has no use for stays null.
struct Bench {
    std::shared_ptr<Programmer> programmer;
    std::shared_ptr<Kb90xxChip> kb90xx;
    std::shared_ptr<EepromChip> eeprom;
    std::shared_ptr<KeyboardChip> keyboard;
    std::shared_ptr<Mec16Chip> mec16;
    std::shared_ptr<IteChip> ite;
    std::shared_ptr<NpceChip> npce;
};

// Throws std::runtime_error when an image file cannot be read.
Bench makeBench(const BenchOptions& options);
std::shared_ptr<Programmer> makeProgrammer(const BenchOptions& options);
// A bridge with the bench's programmer as its only device.
std::shared_ptr<SimBridge> makeSimBridge(const Bench& bench);

}  // namespace kjsim
