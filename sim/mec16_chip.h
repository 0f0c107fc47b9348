// A MEC1609 embedded controller behind the V42 firmware, reached over JTAG:
// five registers written and read as ASCII hexadecimal frames, a 4-byte ID,
// 192 KiB of MAIN flash and 2 KiB of INFO flash read in 1025-byte packets,
// MAIN written in 256-byte blocks, and an erase run by a register write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>

#include "sim/flash_chip.h"

namespace kjsim {

inline constexpr size_t kMecMainSize = 196608;
inline constexpr size_t kMecInfoSize = 2048;
inline constexpr size_t kMecFlashSize = kMecMainSize + kMecInfoSize;  // MAIN, then INFO
inline constexpr uint32_t kMecInfoAddress = 0x040000;

// Faults and chip state set by a test or korvel-progsim before the PC starts an
// operation (the firmware reads them only after a byte from the PC arrives).
// Frames and packets are counted from the chip ID read that starts every operation.
struct Mec16Faults {
    bool noChip = false;     // the ID and every register read FFh; nothing is erased or programmed
    int lostFrameAt = 0;     // this register frame ('r' or 'w') gets no answer
    int badPacketAt = 0;     // this read packet (INFO counted after MAIN) carries status 00h
    int refusedBlockAt = 0;  // this write block is answered 'E' instead of 'G' and not programmed
    bool fwp = false;        // the nFWP pin holds the flash write-protected
    bool bootLock = false;   // Boot_Lock is set
    int busyReads = 3;       // status reads that still report an erase as running
};

class Mec16Chip : public FlashChip {
public:
    // MAIN and INFO filled with a pattern whose packets all differ.
    Mec16Chip();
    // MAIN then INFO; a shorter image is padded with FFh.
    explicit Mec16Chip(Bytes image);
    static Bytes patternImage();

    bool handle(uint8_t command, Wire& wire) override;

    Bytes main() const;  // the flash is MAIN, then INFO
    Bytes info() const;
    uint32_t registerValue(uint32_t address) const;
    // Erases the chip has carried out.
    int erases() const;

    Mec16Faults faults;

private:
    enum class StreamStep { Next, End, Left };
    static StreamStep awaitStreamCommand(Wire& wire, bool hasNext);
    static bool parseHex(const Bytes& digits, uint32_t& value);
    void readId(Wire& wire);
    void readRegister(Wire& wire);
    void writeRegister(Wire& wire);
    // True when this frame is the one that goes unanswered.
    bool frameLost();
    uint32_t readValue(uint32_t address);
    void storeValue(uint32_t address, uint32_t value);
    bool protectedFlash() const { return faults.fwp || faults.bootLock || faults.noChip; }
    bool selected(uint32_t mode) const;
    void readStream(Wire& wire);
    void writeStream(Wire& wire);

    std::map<uint32_t, uint32_t> registers_;
    int busyLeft_ = 0;
    int erases_ = 0;
    int frames_ = 0;
    int packets_ = 0;
};

}  // namespace kjsim
