// An ITE IT85xx embedded controller behind the ITE firmware: the firmware's
// settings mode and the routing it keeps, the controller's registers with its
// ID, and a 128 KiB serial flash reached through register 0x08 (Write Enable,
// Chip Erase, Fast Read) plus the firmware's own block read and byte write.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "sim/flash_chip.h"

namespace kjsim {

inline constexpr size_t kIteFlashSize = 128 * 1024;
inline constexpr size_t kItePageSize = 256;

// Faults of the controller; counts start at each 'T', blocks at each Fast Read set-up.
struct IteFaults {
    bool noController = false;      // nothing answers behind the programmer: 'T' and registers get 'e'
    int refuseRegisterWriteAt = 0;  // this register value write is answered 'e'
    int badBlockAt = 0;             // this block's status is 'e'
    int noDataAckAt = 0;            // this data frame gets no answer at all
};

class IteChip : public FlashChip {
public:
    // Flash filled with a pattern whose pages differ, every fourth page erased.
    IteChip();
    explicit IteChip(Bytes image);
    static Bytes patternImage();

    bool handle(uint8_t command, Wire& wire) override;

    // The last pin sent for each routing code ("IN", "d0", ...); the firmware
    // keeps it across link set-ups.
    std::map<std::string, int> routing() const;
    int erases() const { return erases_; }
    // ID bytes at registers 0x00 and 0x01, revision at 0x02.
    std::array<uint8_t, 3> id{0x85, 0x12, 0x03};

    void setFaults(const IteFaults& faults);
    std::atomic<bool> noController{false};
    std::atomic<int> refuseRegisterWriteAt{0};
    std::atomic<int> badBlockAt{0};
    std::atomic<int> noDataAckAt{0};

private:
    void settingsMode(Wire& wire);
    void startOperation(Wire& wire);
    void writeValue(uint8_t value, Wire& wire);
    void readValue(Wire& wire);
    void sendBlock(Wire& wire);
    void setAddress(Wire& wire);
    void writeData(Wire& wire);

    // The flash behind register 0x08, one chip select at a time.
    void setChipSelect(uint8_t value);
    void shiftIn(uint8_t byte);
    void commandEnded();

    std::map<std::string, int> routing_;
    std::atomic<int> erases_{0};

    // The firmware thread's own.
    std::array<uint8_t, 256> registers_{};
    uint8_t selected_ = 0;
    bool unlocked_ = false;    // 0x27 <- 0x01
    bool followMode_ = false;  // then 0x27 <- 0x80: register 0x08 reaches the flash
    bool selectedFlash_ = false;
    Bytes command_;  // opcode and arguments since the chip select went low
    bool writeEnabled_ = false;
    bool reading_ = false;
    uint32_t readAddress_ = 0;
    bool addressSet_ = false;
    uint32_t writeAddress_ = 0;
    int valueWrites_ = 0;
    int blocks_ = 0;
    int dataFrames_ = 0;
};

}  // namespace kjsim
