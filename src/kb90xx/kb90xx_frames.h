// The wire of the KB9010/9012/9016/9022 firmware: its bytes, and one exchange
// function per request.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "link/link.h"

namespace kj::kb90xx {

inline constexpr size_t kBlockSize = 256;
inline constexpr int kBlockCount = 512;
inline constexpr size_t kImageSize = kBlockSize * kBlockCount;  // 128*1024

inline constexpr uint8_t kVersionCmd = 'V';
inline constexpr uint8_t kReadCmd = 'R';
inline constexpr uint8_t kWriteCmd = 'W';
inline constexpr uint8_t kNextCmd = 'N';
inline constexpr uint8_t kEndCmd = 'X';
inline constexpr uint8_t kChecksumCmd = 'S';
inline constexpr uint8_t kProgressMark = '-';
inline constexpr uint8_t kNoChip = 0xFF;
inline constexpr uint8_t kErased = 0xFF;

using Block = std::array<uint8_t, kBlockSize>;

// The flash's own SUM and CRC as the programmer reports them after a write.
struct FlashChecks {
    uint16_t sum = 0;
    uint16_t crc = 0;
};

// 'V': the chip's debug version ID (kNoChip when no chip answered).
Io readVersionId(Link& link, uint8_t& id);
// One block of a read stream: exactly 256 bytes, and nothing more queued.
Io receiveBlock(Link& link, Block& block);
// The programmer's request byte before a write block; its value means nothing.
Io awaitRequest(Link& link, Millis timeout);
// A write block, and the acknowledge byte that follows it.
Io writeBlock(Link& link, const Block& block);
// 'S': the 512 progress marks ('-'; other bytes among them do not count), each
// reported through `onMark` with its count, then the flash's SUM and CRC.
// Io::Unexpected when the line falls quiet with marks missing after stray bytes
// (a garbled mark).
Io readFlashChecks(Link& link, const std::function<void(int)>& onMark, FlashChecks& checks);

}  // namespace kj::kb90xx
