#include "sim/mec16_chip.h"

#include <algorithm>

#include "mec16/mec16.h"
#include "sim/bench.h"

namespace kjsim {

namespace {

constexpr uint8_t kIdFirst = '1';
constexpr uint8_t kIdSecond = 'j';
constexpr uint8_t kRegRead = 'r';
constexpr uint8_t kRegWrite = 'w';
constexpr uint8_t kStreamRead = 'R';
constexpr uint8_t kStreamWrite = 'W';
constexpr uint8_t kNext = 'N';
constexpr uint8_t kEnd = 'X';
constexpr size_t kAddressDigits = 6;
constexpr size_t kValueDigits = 8;

constexpr uint8_t kChipId[] = {0x00, 0x16, 0x09, 0x01};
constexpr uint8_t kWritten = 0x01;
constexpr uint8_t kFrameTail = 0x00;  // the fifth byte of a register reply
constexpr uint8_t kNothing = 0xFF;

constexpr uint32_t kRegDevice = 0xFFFD00;
constexpr uint32_t kRegCommand = 0xFF3904;
constexpr uint32_t kRegMode = 0xFF3908;
constexpr uint32_t kRegStatus = 0xFF390C;
constexpr uint32_t kRegAccess = 0xFF3910;
constexpr uint32_t kDeviceValue = 0x00201609;
constexpr uint32_t kModeRead = 0x105;
constexpr uint32_t kModeWrite = 0x106;
constexpr uint32_t kModeErase = 0x107;
constexpr uint32_t kEraseMainCmd = 0x00F80000;
constexpr uint32_t kEraseAllCmd = 0x00FC0000;
constexpr uint32_t kStatusBusy = 0x01;
constexpr uint32_t kStatusBootLock = 0x08;
constexpr uint32_t kStatusFwp = 0x10;

constexpr size_t kPacketData = 1024;
constexpr uint8_t kPacketOk = 0x01;
constexpr uint8_t kPacketBad = 0x00;
constexpr size_t kWriteBlock = 256;
constexpr size_t kWriteBlocks = kMecMainSize / kWriteBlock;
constexpr uint8_t kRequest = '?';
constexpr uint8_t kTaken = 'G';
constexpr uint8_t kRefused = 'E';

Bytes bigEndian(uint32_t value) {
    return {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value)};
}

}  // namespace

Mec16Chip::Mec16Chip() : Mec16Chip(patternImage()) {}

Mec16Chip::Mec16Chip(Bytes image) : FlashChip(kMecFlashSize, kNothing, std::move(image)) {}

Bytes Mec16Chip::patternImage() {
    Bytes image(kMecFlashSize);
    for (size_t n = 0; n < image.size(); ++n) image[n] = static_cast<uint8_t>((n * 13 + n / kPacketData + 7) & 0xFF);
    return image;
}

Bytes Mec16Chip::main() const {
    const Bytes all = flash();
    return Bytes(all.begin(), all.begin() + kMecMainSize);
}

Bytes Mec16Chip::info() const {
    const Bytes all = flash();
    return Bytes(all.begin() + kMecMainSize, all.end());
}

uint32_t Mec16Chip::registerValue(uint32_t address) const {
    std::lock_guard lock(mutex_);
    const auto it = registers_.find(address);
    return it == registers_.end() ? 0 : it->second;
}

int Mec16Chip::erases() const {
    std::lock_guard lock(mutex_);
    return erases_;
}

bool Mec16Chip::handle(uint8_t command, Wire& wire) {
    switch (command) {
        case kIdFirst: readId(wire); return true;
        case kRegRead: readRegister(wire); return true;
        case kRegWrite: writeRegister(wire); return true;
        case kStreamRead: readStream(wire); return true;
        case kStreamWrite: writeStream(wire); return true;
        default: return false;
    }
}

// ---- frames ----

bool Mec16Chip::parseHex(const Bytes& digits, uint32_t& value) {
    value = 0;
    for (uint8_t c : digits) {
        uint32_t d = 0;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;  // the firmware takes upper-case digits only
        value = value << 4 | d;
    }
    return true;
}

// "1" arms the ID read, "j" carries it out; the counts of an operation start here.
void Mec16Chip::readId(Wire& wire) {
    const uint8_t next = wire.get();
    if (next != kIdSecond) return wire.unget(next);
    {
        std::lock_guard lock(mutex_);
        frames_ = 0;
        packets_ = 0;
    }
    if (faults.noChip) return wire.reply(Bytes(4, kNothing));
    wire.reply(Bytes(std::begin(kChipId), std::end(kChipId)));
}

bool Mec16Chip::frameLost() {
    std::lock_guard lock(mutex_);
    return ++frames_ == faults.lostFrameAt;
}

// A frame with a digit the firmware does not take is dropped without an answer.
void Mec16Chip::readRegister(Wire& wire) {
    uint32_t address = 0;
    if (!parseHex(wire.getN(kAddressDigits), address) || frameLost()) return;
    Bytes reply = bigEndian(readValue(address));
    reply.push_back(kFrameTail);
    wire.reply(reply);
}

void Mec16Chip::writeRegister(Wire& wire) {
    uint32_t address = 0;
    uint32_t value = 0;
    const bool addressOk = parseHex(wire.getN(kAddressDigits), address);
    if (!parseHex(wire.getN(kValueDigits), value) || !addressOk || frameLost()) return;
    storeValue(address, value);
    wire.reply(kWritten);
}

uint32_t Mec16Chip::readValue(uint32_t address) {
    if (faults.noChip) return 0xFFFFFFFF;
    std::lock_guard lock(mutex_);
    if (address == kRegDevice) return kDeviceValue;
    if (address != kRegStatus) return registers_[address];
    uint32_t status = 0;
    if (busyLeft_ > 0) {
        --busyLeft_;
        status |= kStatusBusy;
    }
    if (faults.bootLock) status |= kStatusBootLock;
    if (faults.fwp) status |= kStatusFwp;
    return status;
}

// The erase runs only as the controller expects it: access on, erase mode
// selected, and the flash not protected.
void Mec16Chip::storeValue(uint32_t address, uint32_t value) {
    std::lock_guard lock(mutex_);
    registers_[address] = value;
    if (address != kRegCommand || (value != kEraseMainCmd && value != kEraseAllCmd)) return;
    if (registers_[kRegAccess] != 1 || registers_[kRegMode] != kModeErase || protectedFlash()) return;
    const size_t end = value == kEraseAllCmd ? kMecFlashSize : kMecMainSize;
    std::fill(flash_.begin(), flash_.begin() + static_cast<std::ptrdiff_t>(end), kNothing);
    busyLeft_ = faults.busyReads;
    ++erases_;
}

bool Mec16Chip::selected(uint32_t mode) const {
    std::lock_guard lock(mutex_);
    const auto access = registers_.find(kRegAccess);
    const auto selected = registers_.find(kRegMode);
    return access != registers_.end() && access->second == 1 && selected != registers_.end() &&
           selected->second == mode;
}

// ---- streams ----

// 'N' past the last block has nothing to answer and is swallowed; a byte that
// is no stream command leaves the stream.
Mec16Chip::StreamStep Mec16Chip::awaitStreamCommand(Wire& wire, bool hasNext) {
    for (;;) {
        const uint8_t c = wire.get();
        if (c == kEnd) return StreamStep::End;
        if (c == kNext) {
            if (hasNext) return StreamStep::Next;
            continue;
        }
        wire.unget(c);
        return StreamStep::Left;
    }
}

// Packets from MAIN (address 000000) or INFO (040000); outside read mode the
// controller hands out nothing valid, and says so in the status byte.
void Mec16Chip::readStream(Wire& wire) {
    uint32_t address = 0;
    if (!parseHex(wire.getN(kAddressDigits), address)) return;
    if (address != 0 && address != kMecInfoAddress) return;
    const size_t base = address == 0 ? 0 : kMecMainSize;
    const size_t count = (address == 0 ? kMecMainSize : kMecInfoSize) / kPacketData;
    const bool readable = selected(kModeRead) && !faults.noChip;
    for (size_t index = 0;; ++index) {
        Bytes packet(kPacketData + 1, kNothing);
        int number = 0;
        {
            std::lock_guard lock(mutex_);
            number = ++packets_;
            if (readable) {
                const auto first = flash_.begin() + static_cast<std::ptrdiff_t>(base + index * kPacketData);
                std::copy_n(first, kPacketData, packet.begin());
            }
        }
        packet[kPacketData] = readable && number != faults.badPacketAt ? kPacketOk : kPacketBad;
        wire.reply(packet);
        if (awaitStreamCommand(wire, index + 1 < count) != StreamStep::Next) return;
    }
}

// MAIN in 256-byte blocks from address 0, each asked for with a request byte
// and taken with 'G'. Flash cells only go from 1 to 0: a write does not erase.
void Mec16Chip::writeStream(Wire& wire) {
    const bool writable = selected(kModeWrite) && !protectedFlash();
    for (size_t index = 0;; ++index) {
        wire.reply(kRequest);
        const Bytes block = wire.getN(kWriteBlock);
        if (static_cast<int>(index) + 1 == faults.refusedBlockAt) {
            wire.reply(kRefused);
        } else {
            if (writable) {
                std::lock_guard lock(mutex_);
                program(index * kWriteBlock, block);
            }
            wire.reply(kTaken);
        }
        if (awaitStreamCommand(wire, index + 1 < kWriteBlocks) != StreamStep::Next) return;
    }
}

namespace {
constexpr Firmware kV42{.id = kj::firmware::kV42, .version = "V42", .closingBytes = "0"};
KJ_REGISTER(Firmware, kV42)

std::shared_ptr<ChipModel> makeMec16(const BenchOptions& options) {
    auto chip = std::make_shared<Mec16Chip>(imageOr(options.flashFile, kMecFlashSize, Mec16Chip::patternImage()));
    chip->faults = options.chipFaults<Mec16Faults>();
    chip->faults.noChip = chip->faults.noChip || options.noChip;
    return chip;
}

Mec16Faults& faultsOf(BenchOptions& options) { return options.chipFaults<Mec16Faults>(); }

constexpr ChipFlag kFlags[] = {
    {"--mec-lost-frame", "N", "MEC16: the N-th register frame of an operation goes unanswered",
     [](BenchOptions& o, const std::string& f, const std::string& v) {
         faultsOf(o).lostFrameAt = positiveArgument(f, v);
     }},
    {"--mec-bad-packet", "N", "MEC16: the N-th read packet of an operation has a bad status",
     [](BenchOptions& o, const std::string& f, const std::string& v) {
         faultsOf(o).badPacketAt = positiveArgument(f, v);
     }},
    {"--mec-refuse-block", "N", "MEC16: write block N is answered 'E' instead of 'G'",
     [](BenchOptions& o, const std::string& f, const std::string& v) {
         faultsOf(o).refusedBlockAt = positiveArgument(f, v);
     }},
    {"--mec-fwp", "", "MEC16: the nFWP pin holds write protection",
     [](BenchOptions& o, const std::string&, const std::string&) { faultsOf(o).fwp = true; }},
    {"--mec-boot-lock", "", "MEC16: Boot_Lock is set",
     [](BenchOptions& o, const std::string&, const std::string&) { faultsOf(o).bootLock = true; }},
    {"--mec-busy-reads", "N", "MEC16: status reads that report an erase still running (default 3)",
     [](BenchOptions& o, const std::string& f, const std::string& v) {
         faultsOf(o).busyReads = positiveArgument(f, v);
     }},
};

constexpr ChipEntry kMec16{
    .name = "mec16",
    .firmware = kj::firmware::kV42,
    .make = makeMec16,
    .flags = kFlags,
    .familyFlash = true,
    .writableSize = kMecMainSize,
    .family = &kj::mec16::kFamily,
    .image = [](const ChipModel& chip) { return static_cast<const Mec16Chip&>(chip).main(); },
    // The write does not erase: the technician erases first.
    .prepareWrite =
        [](ChipModel& chip, Bytes image) {
            auto& mec16 = static_cast<Mec16Chip&>(chip);
            mec16.setFlash(Bytes(mec16.size(), kNothing));
            return image;
        },
};
KJ_REGISTER(ChipEntry, kMec16)
}  // namespace

}  // namespace kjsim
