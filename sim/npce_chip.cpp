#include "sim/npce_chip.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "npce/npce.h"
#include "sim/bench.h"

namespace kjsim {

namespace {
constexpr uint8_t kIdentify = 'Z';
constexpr uint8_t kRead = 'r';
constexpr uint8_t kStreamEnd = '-';
constexpr uint8_t kErase = 'e';
constexpr uint8_t kBlankCheck = 'x';
constexpr uint8_t kWrite = 'w';
constexpr uint8_t kWriteEnd = 0x07;
constexpr uint8_t kRequest = '*';
constexpr uint8_t kBadRequest = '?';
constexpr uint8_t kBlockDone = 1;
constexpr uint8_t kBlockFailed = 0;
constexpr uint8_t kGood = 1;
constexpr uint8_t kBad = 0;
// The second byte of the two-byte answers means nothing to the PC.
constexpr uint8_t kAnswerTail = 0x3C;
constexpr uint8_t kWriteEndAnswer = 0x06;
constexpr uint8_t kErased = 0xFF;
constexpr size_t kReadBlocks = kNpceFlashSize / kNpceReadBlock;
constexpr size_t kWriteBlocks = kNpceFlashSize / kNpceWriteBlock;

void answer(Wire& wire, uint8_t first) {
    const uint8_t bytes[] = {first, kAnswerTail};
    wire.reply(std::span<const uint8_t>(bytes));
}
}  // namespace

NpceChip::NpceChip() : NpceChip(patternImage()) {}

NpceChip::NpceChip(Bytes image) : FlashChip(kNpceFlashSize, kErased, std::move(image)) {}

Bytes NpceChip::patternImage() {
    Bytes image(kNpceFlashSize);
    for (size_t n = 0; n < image.size(); ++n) image[n] = static_cast<uint8_t>((n * 13 + n / kNpceWriteBlock) & 0xFF);
    return image;
}

NpceFaults NpceChip::faults() const {
    std::lock_guard lock(mutex_);
    return faults_;
}

void NpceChip::setFaults(const NpceFaults& faults) {
    std::lock_guard lock(mutex_);
    faults_ = faults;
}

bool NpceChip::handle(uint8_t command, Wire& wire) {
    switch (command) {
        case kIdentify: wire.reply(std::span<const uint8_t>(faults().id)); return true;
        case kRead: readStream(wire); return true;
        case kErase: erase(wire); return true;
        case kBlankCheck: blankCheck(wire); return true;
        case kWrite: writeStream(wire); return true;
        // An end command outside its stream is answered all the same.
        case kStreamEnd: answer(wire, kBad); return true;
        case kWriteEnd: wire.reply(kWriteEndAnswer); return true;
        default: return false;
    }
}

Bytes NpceChip::readBlock(size_t index) const {
    std::lock_guard lock(mutex_);
    const auto first = flash_.begin() + static_cast<std::ptrdiff_t>((index % kReadBlocks) * kNpceReadBlock);
    return Bytes(first, first + kNpceReadBlock);
}

// Programming only clears bits, as in a real flash: a block lands as written
// only on erased cells.
void NpceChip::programBlock(size_t index, const Bytes& data, long corruptByteAt) {
    std::lock_guard lock(mutex_);
    const size_t base = (index % kWriteBlocks) * kNpceWriteBlock;
    program(base, data);
    if (corruptByteAt >= 0 && static_cast<size_t>(corruptByteAt) >= base &&
        static_cast<size_t>(corruptByteAt) < base + data.size()) {
        flash_[static_cast<size_t>(corruptByteAt)] ^= 0x01;
    }
}

// 'r' sends the next block, '-' ends the stream with its report; any other
// byte leaves the stream and goes back to the main loop.
void NpceChip::readStream(Wire& wire) {
    for (size_t index = 0;; ++index) {
        wire.reply(readBlock(index));
        const uint8_t next = wire.get();
        if (next == kRead) continue;
        if (next == kStreamEnd) {
            const int first = faults().endReportFirst;
            return answer(wire, first < 0 ? kGood : static_cast<uint8_t>(first));
        }
        return wire.unget(next);
    }
}

void NpceChip::erase(Wire& wire) {
    if (faults().eraseFails) return answer(wire, kBad);
    {
        std::lock_guard lock(mutex_);
        eraseFlash();
    }
    answer(wire, kGood);
}

void NpceChip::blankCheck(Wire& wire) {
    bool clear = false;
    {
        std::lock_guard lock(mutex_);
        clear = std::all_of(flash_.begin(), flash_.end(), [](uint8_t b) { return b == kErased; });
    }
    answer(wire, clear && !faults().blankCheckFails ? kGood : kBad);
}

// 'w' asks for the next block: the request byte, 256 bytes, the status byte.
// 0x07 ends the stream; any other byte leaves it.
void NpceChip::writeStream(Wire& wire) {
    for (size_t index = 0;; ++index) {
        const NpceFaults f = faults();
        const int number = static_cast<int>(index) + 1;
        wire.reply(f.badRequestAtBlock == number ? kBadRequest : kRequest);
        const Bytes data = wire.getN(kNpceWriteBlock);
        const bool failed = f.failedBlock == number;
        if (!failed) programBlock(index, data, f.corruptByteAt);
        wire.reply(failed ? kBlockFailed : kBlockDone);
        const uint8_t next = wire.get();
        if (next == kWrite) continue;
        if (next == kWriteEnd) return wire.reply(kWriteEndAnswer);
        return wire.unget(next);
    }
}

namespace {
constexpr Firmware kNpce{
    .id = kj::firmware::kNpce, .version = "NPCE_V1.7\r\n", .answersEndBytes = true, .endAnswer = 0x55};
KJ_REGISTER(Firmware, kNpce)

std::shared_ptr<ChipModel> makeNpce(const BenchOptions& options) {
    auto chip = std::make_shared<NpceChip>(imageOr(options.flashFile, kNpceFlashSize, NpceChip::patternImage()));
    NpceFaults faults = options.chipFaults<NpceFaults>();
    if (options.noChip) faults.id.fill(0xFF);  // nothing answers on the chip's lines
    chip->setFaults(faults);
    return chip;
}

// Three or four bytes in hexadecimal; a fourth left out stays as it was.
void parseId(const std::string& value, std::array<uint8_t, 4>& id) {
    const bool hex = std::all_of(value.begin(), value.end(), [](unsigned char c) { return std::isxdigit(c); });
    if (!hex || (value.size() != 6 && value.size() != 8))
        throw std::invalid_argument("--npce-id needs 3 or 4 bytes in hexadecimal, not \"" + value + "\"");
    for (size_t i = 0; i < value.size() / 2; ++i)
        id[i] = static_cast<uint8_t>(std::stoi(value.substr(2 * i, 2), nullptr, 16));
}

NpceFaults& faultsOf(BenchOptions& options) { return options.chipFaults<NpceFaults>(); }

constexpr ChipFlag kFlags[] = {
    {"--npce-id", "HEX", "NPCE: the answer to 'Z', 3 or 4 bytes (default EF401217)",
     [](BenchOptions& o, const std::string&, const std::string& v) { parseId(v, faultsOf(o).id); }},
    {"--npce-erase-fails", "", "NPCE: 'e' answers 0",
     [](BenchOptions& o, const std::string&, const std::string&) { faultsOf(o).eraseFails = true; }},
    {"--npce-blank-check-fails", "", "NPCE: 'x' answers 0",
     [](BenchOptions& o, const std::string&, const std::string&) { faultsOf(o).blankCheckFails = true; }},
    {"--npce-bad-request", "N", "NPCE: write block N is asked for with '?' instead of '*'",
     [](BenchOptions& o, const std::string& f, const std::string& v) {
         faultsOf(o).badRequestAtBlock = positiveArgument(f, v);
     }},
    {"--npce-failed-block", "N", "NPCE: write block N gets status 0",
     [](BenchOptions& o, const std::string& f, const std::string& v) {
         faultsOf(o).failedBlock = positiveArgument(f, v);
     }},
    {"--npce-corrupt-byte", "N", "NPCE: flash byte N (from 0) is programmed with a bit wrong",
     [](BenchOptions& o, const std::string& f, const std::string& v) {
         faultsOf(o).corruptByteAt = argumentInRange(f, v, 0, static_cast<long>(kNpceFlashSize) - 1);
     }},
    {"--npce-end-report", "BYTE", "NPCE: the first byte of every end report (default 1)",
     [](BenchOptions& o, const std::string& f, const std::string& v) {
         faultsOf(o).endReportFirst = static_cast<int>(argumentInRange(f, v, 0, 255));
     }},
};

constexpr ChipEntry kNpceEntry{
    .name = "npce",
    .firmware = kj::firmware::kNpce,
    .make = makeNpce,
    .flags = kFlags,
    .familyFlash = true,
    .writableSize = kNpceFlashSize,
    .family = &kj::npce::kFamily,
};
KJ_REGISTER(ChipEntry, kNpceEntry)
}  // namespace

}  // namespace kjsim
