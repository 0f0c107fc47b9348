// The wire of the ITE firmware: the routing frames of its settings mode, the
// controller's registers, and the flash's blocks, address and data frames; one
// exchange function per request.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "link/link.h"

namespace kj::ite {

inline constexpr size_t kPageSize = 256;
inline constexpr int kPageCount = 512;
inline constexpr size_t kImageSize = kPageSize * kPageCount;  // 128 KiB
inline constexpr size_t kBlockReplySize = kPageSize + 1;      // the page, then its status
inline constexpr uint8_t kErased = 0xFF;

inline constexpr uint8_t kSettingsCmd = 'S';
inline constexpr std::array<uint8_t, 3> kSettingsEnd{'Q', 'Q', 'Q'};
inline constexpr uint8_t kControllerCmd = 'T';
inline constexpr uint8_t kSelectCmd = 'A';
inline constexpr uint8_t kValueCmd = 'W';
inline constexpr uint8_t kReadRegisterCmd = 'R';
inline constexpr uint8_t kBlockCmd = 'r';
inline constexpr uint8_t kAddressCmd = 'Y';
inline constexpr uint8_t kDataCmd = 'w';

inline constexpr uint8_t kSettingsReady = '*';
inline constexpr uint8_t kRoutingTaken = '+';
inline constexpr uint8_t kDone = 'o';
inline constexpr uint8_t kRegisterRefused = 'e';

// One register write of a preparation, and the code its failure is reported with.
struct RegisterStep {
    uint8_t reg;
    uint8_t value;
    std::string_view code;
    bool changesFlash = false;  // from here on the chip's flash may no longer be what it was
};

// Puts the controller where its flash reads from address 0 (Fast Read 0x0B).
// clang-format off
inline constexpr std::array<RegisterStep, 13> kReadPreparation{{
    {0x27, 0x01, "20"}, {0x27, 0x80, "21"}, {0x04, 0xFF, "22"}, {0x07, 0x7F, "23"}, {0x06, 0xFF, "24"},
    {0x05, 0xFE, "25"}, {0x08, 0x00, "26"}, {0x05, 0xFD, "27"},
    {0x08, 0x0B, "28"}, {0x08, 0x00, "29"}, {0x08, 0x00, "2A"}, {0x08, 0x00, "2B"}, {0x08, 0x00, "2C"},
}};
// clang-format on

// The same set-up, one Write Enable (0x06), then Chip Erase as 0x60 and as 0xC7;
// the second erase reports the codes of the first.
inline constexpr size_t kWriteSetUpSteps = 5;
// clang-format off
inline constexpr std::array<RegisterStep, 19> kWritePreparation{{
    {0x27, 0x01, "T001"}, {0x27, 0x80, "T002"}, {0x04, 0xFF, "T003"}, {0x07, 0x7F, "T004"}, {0x06, 0xFF, "T005"},
    {0x05, 0xFE, "T006"}, {0x08, 0x00, "T007"}, {0x05, 0xFD, "T008"},
    {0x08, 0x06, "T009"},
    {0x05, 0xFE, "T010"}, {0x08, 0x00, "T011"}, {0x05, 0xFD, "T012"},
    {0x08, 0x60, "T013", true},
    {0x05, 0xFE, "T014", true}, {0x08, 0x00, "T015", true}, {0x05, 0xFD, "T012", true},
    {0x08, 0xC7, "T013", true},
    {0x05, 0xFE, "T014", true}, {0x08, 0x00, "T015", true},
}};
// clang-format on

// The registers of the link check: two ID bytes and the revision.
struct IdRegister {
    uint8_t reg;
    std::string_view code;
};
inline constexpr std::array<IdRegister, 3> kIdRegisters{{{0x00, "01"}, {0x01, "02"}, {0x02, "03"}}};

// How a request ended: the link's result and, once a reply came, whether it
// was the good one.
struct Answer {
    Io io = Io::Ok;
    bool accepted = false;
    bool ok() const { return io == Io::Ok && accepted; }
};

std::array<uint8_t, 3> routingFrame(std::array<uint8_t, 2> code, uint8_t pin);
std::array<uint8_t, 4> addressFrame(uint32_t address);
std::array<uint8_t, 2> dataFrame(uint8_t byte);

// 'S': into the settings mode.
Answer enterSettings(Link& link);
// A signal's routing frame.
Answer sendRouting(Link& link, std::array<uint8_t, 2> code, uint8_t pin);
// 'Q' 'Q' 'Q': out of the settings mode.
Answer leaveSettings(Link& link);
// 'T': whether the controller answers; the programmer gives it its time first.
Answer checkController(Link& link, Millis timeout);
// 'A': selects a register; the reply as it came.
Io selectRegister(Link& link, uint8_t reg, uint8_t& reply);
// 'R': the selected register's value.
Io readRegister(Link& link, uint8_t& value);
// 'A' then 'W': refused as soon as either reply is not 'o'.
Answer writeRegister(Link& link, uint8_t reg, uint8_t value);
// 'r': the next page of the flash and its status, exactly 257 bytes.
Answer readBlock(Link& link, std::span<uint8_t, kBlockReplySize> reply);
// 'Y': where the next data frame goes.
Answer setFlashAddress(Link& link, uint32_t address, Millis timeout);
// 'w': one byte into the flash, at the address after the last one.
Answer writeFlashByte(Link& link, uint8_t byte, Millis timeout);

}  // namespace kj::ite
