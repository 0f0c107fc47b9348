// The LCD panel's 256-byte EDID EEPROM behind the V41 firmware: 'E' 'r' reads
// it whole with a two-byte status, 'E' 'w' writes it whole.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sim/flash_chip.h"

namespace kjsim {

inline constexpr size_t kEepromSize = 256;

// A laptop panel's EDID 1.4 base block with a valid checksum, padded with 0xFF
// to the EEPROM's size.
Bytes builtInPanelEdid();

// Its contents are its flash(): an EEPROM cell takes each byte as written.
class EepromChip : public FlashChip {
public:
    EepromChip();  // holds builtInPanelEdid()
    explicit EepromChip(Bytes contents);

    bool handle(uint8_t command, Wire& wire) override;

    // Delivery of a read's 258 bytes: pieces of these sizes, `pieceGap` apart
    // (empty: all at once). Set before the PC reads.
    std::vector<size_t> readPieces;
    Millis pieceGap{5};

    // Faults.
    std::atomic<bool> notResponding{false};   // reads give 0xFF and "ER", writes "ER"
    std::atomic<bool> writeProtected{false};  // WP pin low: reads work, writes answer "ER"
    std::atomic<bool> silent{false};          // no answer at all to 'E'

private:
    void read(Wire& wire);
    void write(Wire& wire);
};

}  // namespace kjsim
