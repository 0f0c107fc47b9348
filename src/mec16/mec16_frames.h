// The wire of the MEC1609 firmware (V42): register frames whose address and
// value travel as ASCII hexadecimal text, the chip ID, and the block streams.
// The frames are built and judged by pure functions; one exchange per request.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "link/link.h"

namespace kj::mec16 {

inline constexpr uint8_t kRegisterReadCmd = 'r';
inline constexpr uint8_t kRegisterWriteCmd = 'w';
inline constexpr uint8_t kIdPrefix = '1';
inline constexpr uint8_t kIdCmd = 'j';
inline constexpr uint8_t kReadStreamCmd = 'R';
inline constexpr uint8_t kWriteStreamCmd = 'W';
inline constexpr uint8_t kNextCmd = 'N';
inline constexpr uint8_t kEndCmd = 'X';

inline constexpr int kAddressDigits = 6;
inline constexpr int kValueDigits = 8;
inline constexpr size_t kRegisterReadFrameSize = 1 + kAddressDigits;
inline constexpr size_t kRegisterWriteFrameSize = 1 + kAddressDigits + kValueDigits;
inline constexpr size_t kRegisterReplySize = 5;  // the value, then a byte nobody looks at
inline constexpr uint8_t kRegisterWritten = 0x01;

// The controller's registers and the values the operations write to them.
inline constexpr uint32_t kDeviceRegister = 0xFFFD00;
inline constexpr uint32_t kCommandRegister = 0xFF3904;
inline constexpr uint32_t kSelectRegister = 0xFF3908;
inline constexpr uint32_t kStatusRegister = 0xFF390C;
inline constexpr uint32_t kAccessRegister = 0xFF3910;

inline constexpr uint32_t kSelectRead = 0x105;
inline constexpr uint32_t kSelectWrite = 0x106;
inline constexpr uint32_t kSelectErase = 0x107;
inline constexpr uint32_t kSelectEnd = 0x100;
inline constexpr uint32_t kSelectIdle = 0;
inline constexpr uint32_t kAccessOn = 1;
inline constexpr uint32_t kAccessOff = 0;
inline constexpr uint32_t kWriteStart = 0;
inline constexpr uint32_t kEraseMain = 0x00F80000;
inline constexpr uint32_t kEraseMainAndInfo = 0x00FC0000;

// Bits of the status register's fourth value byte.
inline constexpr uint8_t kEraseBusyBit = 0x01;
inline constexpr uint8_t kBootLockBit = 0x08;
inline constexpr uint8_t kFwpBit = 0x10;

// Read streams: packets of 1024 flash bytes and a status byte.
inline constexpr uint32_t kMainAddress = 0x000000;
inline constexpr uint32_t kInfoAddress = 0x040000;
inline constexpr size_t kPacketData = 1024;
inline constexpr size_t kPacketSize = kPacketData + 1;
inline constexpr uint8_t kPacketGood = 0x01;
inline constexpr int kMainPackets = 192;
inline constexpr int kInfoPackets = 2;
inline constexpr size_t kMainSize = kPacketData * kMainPackets;  // 196608
inline constexpr size_t kInfoSize = kPacketData * kInfoPackets;  // 2048

// The write stream: MAIN only, in 256-byte blocks, each taken with 'G'.
inline constexpr size_t kBlockSize = 256;
inline constexpr int kWriteBlocks = static_cast<int>(kMainSize / kBlockSize);  // 768
inline constexpr uint8_t kBlockTaken = 'G';
inline constexpr uint8_t kErased = 0xFF;

using Value = std::array<uint8_t, 4>;
using Packet = std::array<uint8_t, kPacketSize>;
using Block = std::array<uint8_t, kBlockSize>;
using ReadFrame = std::array<uint8_t, kRegisterReadFrameSize>;
using WriteFrame = std::array<uint8_t, kRegisterWriteFrameSize>;

// "r" + the address as 6 upper-case hexadecimal digits.
ReadFrame registerReadFrame(uint32_t address);
// "w" + 6 address digits + 8 value digits.
WriteFrame registerWriteFrame(uint32_t address, uint32_t value);
// "R" + 6 address digits: a read stream from that flash address.
ReadFrame readStreamFrame(uint32_t address);
// The bytes in the order received, as "0000 0105h".
std::string valueText(const Value& bytes);
// No chip answered the ID read.
bool isNoChip(const Value& id);
bool packetGood(const Packet& packet);

// A register's value; `timeout` bounds the wait for the reply.
Io readRegister(Link& link, uint32_t address, Value& value, Millis timeout);
// Ok only when the reply is the single byte 01h.
Io writeRegister(Link& link, uint32_t address, uint32_t value);
// "1", "j" and exactly 4 bytes back; `id` stays zero when they did not come.
Io readId(Link& link, Value& id);
Io startReadStream(Link& link, uint32_t address);
// One packet of a read stream, and nothing more queued.
Io receivePacket(Link& link, Packet& packet);
// The programmer's request byte before a write block; its value means nothing.
Io awaitRequest(Link& link);
// The answer to a write block; Ok only when it is 'G'.
Io awaitTaken(Link& link);

}  // namespace kj::mec16
