#include "sim/kb90xx_chip.h"

#include <algorithm>
#include <iterator>

#include "kb90xx/kb90xx.h"
#include "sim/bench.h"

namespace kjsim {

namespace {
constexpr uint8_t kVersionCmd = 'V';
constexpr uint8_t kReadCmd = 'R';
constexpr uint8_t kWriteCmd = 'W';
constexpr uint8_t kChecksumCmd = 'S';
constexpr uint8_t kNextCmd = 'N';
constexpr uint8_t kEndCmd = 'X';
constexpr uint8_t kNoChipId = 0xFF;
constexpr uint8_t kErased = 0xFF;
// The values of the request and acknowledge bytes carry no meaning for the PC.
constexpr uint8_t kRequestByte = 'w';
constexpr uint8_t kAckByte = 'k';
constexpr uint8_t kJunk = 0xA5;
constexpr uint8_t kNoise[] = {0x00, '+', '.', 0xFF, '='};
constexpr uint16_t kCrcPoly = 0xA001;

enum class StreamStep { Next, End, Left };

// Waits for the PC's next stream command. 'N' past the last block has nothing
// to answer and is swallowed; a byte that is no stream command leaves the stream.
StreamStep awaitStreamCommand(Wire& wire, bool hasNext) {
    for (;;) {
        const uint8_t c = wire.get();
        if (c == kEndCmd) return StreamStep::End;
        if (c == kNextCmd) {
            if (hasNext) return StreamStep::Next;
            continue;
        }
        wire.unget(c);
        return StreamStep::Left;
    }
}

Bytes marksWithNoise(size_t noise) {
    Bytes out;
    out.reserve(kKbBlockCount + noise);
    size_t placed = 0;
    for (size_t mark = 0; mark < kKbBlockCount; ++mark) {
        // Spread the noise evenly, every piece of it ahead of the last mark.
        while (placed < noise && (placed + 1) * kKbBlockCount / (noise + 1) <= mark) {
            out.push_back(kNoise[placed % std::size(kNoise)]);
            ++placed;
        }
        out.push_back(kKbProgressMark);
    }
    return out;
}
}  // namespace

uint16_t crc16Arc(std::span<const uint8_t> bytes, uint16_t crc) {
    for (uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ kCrcPoly : crc >> 1;
    }
    return crc;
}

uint16_t byteSum16(std::span<const uint8_t> bytes) {
    uint16_t sum = 0;
    for (uint8_t byte : bytes) sum = static_cast<uint16_t>(sum + byte);
    return sum;
}

Kb90xxChip::Kb90xxChip() : Kb90xxChip(patternImage()) {}

Kb90xxChip::Kb90xxChip(Bytes image) : FlashChip(kKbFlashSize, kErased, std::move(image)) {}

Bytes Kb90xxChip::patternImage() {
    Bytes image(kKbFlashSize);
    for (size_t n = 0; n < image.size(); ++n) image[n] = static_cast<uint8_t>((n * 7 + n / kKbBlockSize) & 0xFF);
    return image;
}

bool Kb90xxChip::handle(uint8_t command, Wire& wire) {
    switch (command) {
        case kVersionCmd: wire.reply(noChip ? kNoChipId : versionId_.load()); return true;
        case kReadCmd: readStream(wire); return true;
        case kWriteCmd: writeStream(wire); return true;
        case kChecksumCmd: sendChecksums(wire); return true;
        default: return false;
    }
}

Bytes Kb90xxChip::block(size_t index) const {
    if (noChip) return Bytes(kKbBlockSize, kErased);
    std::lock_guard lock(mutex_);
    const auto first = flash_.begin() + static_cast<std::ptrdiff_t>(index * kKbBlockSize);
    return Bytes(first, first + kKbBlockSize);
}

void Kb90xxChip::programBlock(size_t index, const Bytes& data) {
    if (noChip) return;
    std::lock_guard lock(mutex_);
    const size_t base = index * kKbBlockSize;
    program(base, data);
    const long bad = corruptWriteAt;
    if (bad >= 0 && static_cast<size_t>(bad) >= base && static_cast<size_t>(bad) < base + kKbBlockSize)
        flash_[static_cast<size_t>(bad)] = static_cast<uint8_t>(~data[static_cast<size_t>(bad) - base]);
}

void Kb90xxChip::eraseAll() {
    if (noChip) return;
    std::lock_guard lock(mutex_);
    eraseFlash();
}

void Kb90xxChip::drainSilently(Wire& wire) {
    while (awaitStreamCommand(wire, true) == StreamStep::Next) {}
}

void Kb90xxChip::readStream(Wire& wire) {
    for (size_t index = 0;; ++index) {
        const int blockNumber = static_cast<int>(index) + 1;
        if (silentAtBlock == blockNumber) return drainSilently(wire);
        Bytes data = block(index);
        if (extraAfterBlock == blockNumber) data.insert(data.end(), extraBytes.load(), kJunk);
        wire.reply(data);
        if (awaitStreamCommand(wire, index + 1 < kKbBlockCount) != StreamStep::Next) return;
    }
}

void Kb90xxChip::writeStream(Wire& wire) {
    eraseAll();
    blocksWritten_ = 0;
    for (size_t index = 0;; ++index) {
        if (silentAtBlock == static_cast<int>(index) + 1) return drainSilently(wire);
        wire.reply(kRequestByte);
        programBlock(index, wire.getN(kKbBlockSize));
        ++blocksWritten_;
        wire.reply(kAckByte);
        if (awaitStreamCommand(wire, index + 1 < kKbBlockCount) != StreamStep::Next) return;
    }
}

void Kb90xxChip::sendChecksums(Wire& wire) {
    const Bytes image = noChip ? Bytes(kKbFlashSize, kErased) : flash();
    wire.reply(marksWithNoise(noiseBeforeChecksum));
    const uint16_t sum = byteSum16(image);
    const uint16_t crc = crc16Arc(image);
    const uint8_t values[] = {static_cast<uint8_t>(sum & 0xFF), static_cast<uint8_t>(sum >> 8),
                              static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8)};
    wire.reply(std::span<const uint8_t>(values));
}

namespace {
// The V41 firmware: the controller's flash, the panel's EEPROM and the keyboard
// connector behind one programmer.
constexpr Firmware kV41{.id = kj::firmware::kV41, .version = "V41"};
KJ_REGISTER(Firmware, kV41)

std::shared_ptr<ChipModel> makeKb90xx(const BenchOptions& options) {
    auto chip = std::make_shared<Kb90xxChip>(imageOr(options.flashFile, kKbFlashSize, Kb90xxChip::patternImage()));
    chip->noChip = options.noChip;
    return chip;
}

constexpr ChipEntry kKb90xx{
    .name = "kb90xx",
    .firmware = kj::firmware::kV41,
    .make = makeKb90xx,
    .familyFlash = true,
    .writableSize = kKbFlashSize,
    .family = &kj::kb90xx::kFamily,
};
KJ_REGISTER(ChipEntry, kKb90xx)
}  // namespace

}  // namespace kjsim
