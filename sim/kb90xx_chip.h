// A KB9010/9012/9016/9022 embedded controller as the V41 firmware drives it:
// 128 KiB of flash moved in 256-byte blocks, plus the firmware's own SUM and
// CRC over the whole flash. Its checksum code is written apart from the
// product's so that a verification test compares two independent sums.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>

#include "sim/flash_chip.h"

namespace kjsim {

inline constexpr size_t kKbBlockSize = 256;
inline constexpr size_t kKbBlockCount = 512;
inline constexpr size_t kKbFlashSize = kKbBlockSize * kKbBlockCount;  // 131072
inline constexpr uint8_t kKbProgressMark = '-';

// CRC-16/ARC (reflected 0x8005, init 0, no final XOR), bit by bit.
uint16_t crc16Arc(std::span<const uint8_t> bytes, uint16_t crc = 0);
// Sum of the bytes, modulo 65536.
uint16_t byteSum16(std::span<const uint8_t> bytes);

class Kb90xxChip : public FlashChip {
public:
    // Flash filled with a pattern whose blocks all differ.
    Kb90xxChip();
    explicit Kb90xxChip(Bytes image);
    static Bytes patternImage();

    bool handle(uint8_t command, Wire& wire) override;

    // Blocks programmed by the last write stream.
    size_t blocksWritten() const { return blocksWritten_; }
    uint8_t versionId() const { return versionId_; }
    void setVersionId(uint8_t id) { versionId_ = id; }

    // Faults; set them before the PC starts an operation.
    std::atomic<bool> noChip{false};       // 'V' answers 0xFF, reads give 0xFF, writes are lost
    std::atomic<long> corruptWriteAt{-1};  // this flash byte is programmed inverted
    std::atomic<int> silentAtBlock{0};     // a stream stops answering at this 1-based block
    std::atomic<size_t> extraBytes{0};     // junk bytes sent behind read block `extraAfterBlock`
    std::atomic<int> extraAfterBlock{1};
    std::atomic<size_t> noiseBeforeChecksum{0};  // non-mark bytes mixed among the 512 marks

private:
    void readStream(Wire& wire);
    void writeStream(Wire& wire);
    void sendChecksums(Wire& wire);
    // After a stream has gone silent: swallows 'N' until 'X', hands anything else back.
    static void drainSilently(Wire& wire);
    Bytes block(size_t index) const;
    void programBlock(size_t index, const Bytes& data);
    void eraseAll();

    std::atomic<size_t> blocksWritten_{0};
    std::atomic<uint8_t> versionId_{0x23};
};

}  // namespace kjsim
