// An NPCE288N/388N embedded controller as the NPCE firmware drives it: its
// flash identification, 128 KiB of flash read in 512-byte blocks, erased,
// blank-checked and programmed in 256-byte blocks, each stream closed by its
// own end command. Its constants are its own, kept apart from the product's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "sim/flash_chip.h"

namespace kjsim {

inline constexpr size_t kNpceFlashSize = 128 * 1024;
inline constexpr size_t kNpceReadBlock = 512;
inline constexpr size_t kNpceWriteBlock = 256;

// What goes wrong at the chip; the block numbers count from 1 within a stream.
struct NpceFaults {
    std::array<uint8_t, 4> id{0xEF, 0x40, 0x12, 0x17};  // the answer to 'Z'
    bool eraseFails = false;                            // 'e' answers 0 and leaves the flash as it was
    bool blankCheckFails = false;                       // 'x' answers 0 whatever the flash holds
    int badRequestAtBlock = 0;                          // this block is asked for with another byte than '*'
    int failedBlock = 0;                                // this block's status byte is 0 and it is not programmed
    long corruptByteAt = -1;                            // this flash byte is programmed with one bit wrong
    int endReportFirst = -1;                            // the first byte of every end report (-1: 1, all good)
};

class NpceChip : public FlashChip {
public:
    // Flash filled with a pattern whose blocks all differ.
    NpceChip();
    explicit NpceChip(Bytes image);
    static Bytes patternImage();

    bool handle(uint8_t command, Wire& wire) override;

    NpceFaults faults() const;
    // Takes effect from the next command the PC sends.
    void setFaults(const NpceFaults& faults);

private:
    void readStream(Wire& wire);
    void writeStream(Wire& wire);
    void erase(Wire& wire);
    void blankCheck(Wire& wire);
    Bytes readBlock(size_t index) const;
    void programBlock(size_t index, const Bytes& data, long corruptByteAt);

    NpceFaults faults_;
};

}  // namespace kjsim
