// The wire of the NPCE firmware: its bytes, the judgement of its answers, and
// one exchange function per request.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "link/link.h"

namespace kj::npce {

inline constexpr size_t kImageSize = 128 * 1024;
inline constexpr size_t kReadBlockSize = 512;
inline constexpr int kReadBlockCount = 256;
inline constexpr size_t kWriteBlockSize = 256;
inline constexpr int kWriteBlockCount = 512;

inline constexpr uint8_t kIdentifyCmd = 'Z';
inline constexpr uint8_t kReadCmd = 'r';
inline constexpr uint8_t kStreamEndCmd = '-';
inline constexpr uint8_t kEraseCmd = 'e';
inline constexpr uint8_t kBlankCheckCmd = 'x';
inline constexpr uint8_t kWriteCmd = 'w';
inline constexpr uint8_t kWriteRequest = '*';
inline constexpr uint8_t kWriteEndCmd = 0x07;
inline constexpr uint8_t kBlockFailed = 0;
inline constexpr uint8_t kDone = 1;        // first byte of a good erase, blank check or verify report
inline constexpr uint8_t kReadFailed = 0;  // first byte of a bad read report
inline constexpr uint8_t kErased = 0xFF;
inline constexpr std::array<uint8_t, 3> kFlashId{0xEF, 0x40, 0x12};

using IdReply = std::array<uint8_t, 4>;
// The two-byte answer to 'e', 'x' and '-'; only its first byte counts.
using Answer = std::array<uint8_t, 2>;
using ReadBlock = std::array<uint8_t, kReadBlockSize>;
using WriteBlock = std::span<const uint8_t, kWriteBlockSize>;

// The flash identified itself; the fourth byte is not looked at.
bool isFlashId(const IdReply& reply);
// An end report after a read, and after a verification.
bool readReportGood(const Answer& report);
bool verifyReportGood(const Answer& report);
// An erase or blank check that the programmer calls done.
bool answerGood(const Answer& answer);

// 'Z': the flash's identification.
Io identify(Link& link, IdReply& reply);
// One byte out, one byte back whatever its value (the end bytes, 0x07).
Io sendAndWait(Link& link, uint8_t byte);
// A block of a read or verify stream: exactly 512 bytes, and nothing more
// queued. On a time-out the bytes that had come are taken off the queue, and
// `received` says how many they were.
Io receiveBlock(Link& link, ReadBlock& block, size_t& received);
// '-': the end of a read or verify stream, and its report.
Io endStream(Link& link, Answer& report);
// 'e' and 'x', each while the chip works.
Io erase(Link& link, Answer& answer);
Io blankCheck(Link& link, Answer& answer);
// The request byte that asks for the next write block.
Io awaitRequest(Link& link, uint8_t& request);
// A write block, gone from the PC when this returns.
Io sendBlock(Link& link, WriteBlock block);
// The status byte that follows a write block.
Io awaitStatus(Link& link, uint8_t& status);

}  // namespace kj::npce
