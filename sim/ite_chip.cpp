#include "sim/ite_chip.h"

#include <algorithm>

#include "ite/ite.h"
#include "sim/bench.h"

namespace kjsim {

namespace {
// The firmware's commands.
constexpr uint8_t kSettings = 'S';
constexpr uint8_t kSettingsReady = '*';
constexpr uint8_t kTaken = '+';
constexpr uint8_t kNotTaken = '-';
constexpr uint8_t kQuit = 'Q';
constexpr uint8_t kCheck = 'T';
constexpr uint8_t kSelect = 'A';
constexpr uint8_t kValue = 'W';
constexpr uint8_t kRead = 'R';
constexpr uint8_t kBlock = 'r';
constexpr uint8_t kAddress = 'Y';
constexpr uint8_t kData = 'w';
constexpr uint8_t kGood = 'o';
constexpr uint8_t kBad = 'e';
constexpr uint8_t kNothing = 0xFF;
constexpr uint8_t kErased = 0xFF;
constexpr int kLines = 32;

// The signals the firmware can route, by their two code bytes.
constexpr std::array<const char*, 15> kRoutingCodes{"IN", "DS", "AS", "WR", "K4", "K5", "BL", "d0",
                                                    "d1", "d2", "d3", "d4", "d5", "d6", "d7"};

// The controller's registers that matter here.
constexpr uint8_t kUnlockRegister = 0x27;
constexpr uint8_t kUnlock = 0x01;
constexpr uint8_t kFollow = 0x80;
constexpr uint8_t kChipSelectRegister = 0x05;
constexpr uint8_t kSelectLow = 0xFD;
constexpr uint8_t kSelectHigh = 0xFE;
constexpr uint8_t kFlashDataRegister = 0x08;

// The serial flash's opcodes.
constexpr uint8_t kWriteEnable = 0x06;
constexpr uint8_t kChipErase = 0x60;
constexpr uint8_t kChipEraseToo = 0xC7;
constexpr uint8_t kFastRead = 0x0B;
constexpr size_t kFastReadArguments = 4;  // three address bytes and a dummy

bool knownCode(uint8_t a, uint8_t b) {
    return std::any_of(kRoutingCodes.begin(), kRoutingCodes.end(),
                       [&](const char* code) { return code[0] == a && code[1] == b; });
}
}  // namespace

IteChip::IteChip() : IteChip(patternImage()) {}

IteChip::IteChip(Bytes image) : FlashChip(kIteFlashSize, kErased, std::move(image)) {}

Bytes IteChip::patternImage() {
    Bytes image(kIteFlashSize);
    for (size_t n = 0; n < image.size(); ++n) {
        const size_t page = n / kItePageSize;
        image[n] = page % 4 == 3 ? kErased : static_cast<uint8_t>((n * 13 + page) & 0xFF);
    }
    return image;
}

std::map<std::string, int> IteChip::routing() const {
    std::lock_guard lock(mutex_);
    return routing_;
}

void IteChip::setFaults(const IteFaults& faults) {
    noController = faults.noController;
    refuseRegisterWriteAt = faults.refuseRegisterWriteAt;
    badBlockAt = faults.badBlockAt;
    noDataAckAt = faults.noDataAckAt;
}

bool IteChip::handle(uint8_t command, Wire& wire) {
    switch (command) {
        case kSettings: settingsMode(wire); return true;
        case kCheck: startOperation(wire); return true;
        case kSelect:
            selected_ = wire.get();
            wire.reply(noController ? kBad : kGood);
            return true;
        case kValue: writeValue(wire.get(), wire); return true;
        case kRead: readValue(wire); return true;
        case kBlock: sendBlock(wire); return true;
        case kAddress: setAddress(wire); return true;
        case kData: writeData(wire); return true;
        default: return false;
    }
}

// Frames of a code and a pin until 'Q' 'Q' 'Q'. The programmer itself answers:
// routing needs no controller.
void IteChip::settingsMode(Wire& wire) {
    wire.reply(kSettingsReady);
    for (;;) {
        const Bytes frame = wire.getN(3);
        if (frame[0] == kQuit && frame[1] == kQuit && frame[2] == kQuit) return wire.reply(kTaken);
        if (!knownCode(frame[0], frame[1]) || frame[2] > kLines) {
            wire.reply(kNotTaken);
            continue;
        }
        {
            std::lock_guard lock(mutex_);
            routing_[std::string{static_cast<char>(frame[0]), static_cast<char>(frame[1])}] = frame[2];
        }
        wire.reply(kTaken);
    }
}

// 'T': the controller is put into its programming mode afresh.
void IteChip::startOperation(Wire& wire) {
    valueWrites_ = blocks_ = dataFrames_ = 0;
    unlocked_ = followMode_ = selectedFlash_ = writeEnabled_ = reading_ = addressSet_ = false;
    command_.clear();
    wire.reply(noController ? kBad : kGood);
}

void IteChip::writeValue(uint8_t value, Wire& wire) {
    ++valueWrites_;
    if (noController || valueWrites_ == refuseRegisterWriteAt) return wire.reply(kBad);
    registers_[selected_] = value;
    if (selected_ == kUnlockRegister) {
        followMode_ = unlocked_ && value == kFollow;
        unlocked_ = value == kUnlock;
    } else if (selected_ == kChipSelectRegister) {
        setChipSelect(value);
    } else if (selected_ == kFlashDataRegister && followMode_ && selectedFlash_) {
        shiftIn(value);
    }
    wire.reply(kGood);
}

void IteChip::readValue(Wire& wire) {
    if (noController) return wire.reply(kNothing);
    wire.reply(selected_ < id.size() ? id[selected_] : registers_[selected_]);
}

void IteChip::setChipSelect(uint8_t value) {
    if (value == kSelectLow && !selectedFlash_) {
        selectedFlash_ = true;
        command_.clear();
    } else if (value == kSelectHigh && selectedFlash_) {
        selectedFlash_ = false;
        commandEnded();
    }
}

void IteChip::shiftIn(uint8_t byte) {
    command_.push_back(byte);
    if (command_[0] != kFastRead || command_.size() != 1 + kFastReadArguments) return;
    readAddress_ = static_cast<uint32_t>(command_[1] << 16 | command_[2] << 8 | command_[3]) % kIteFlashSize;
    reading_ = true;
    blocks_ = 0;
}

// The flash acts on a command when its chip select goes high.
void IteChip::commandEnded() {
    reading_ = false;
    if (command_.empty()) return;
    const uint8_t opcode = command_[0];
    if (opcode == kWriteEnable) writeEnabled_ = true;
    if ((opcode == kChipErase || opcode == kChipEraseToo) && writeEnabled_) {
        std::lock_guard lock(mutex_);
        eraseFlash();
        writeEnabled_ = false;
        ++erases_;
    }
    command_.clear();
}

// A page of a Fast Read in progress, and its status.
void IteChip::sendBlock(Wire& wire) {
    ++blocks_;
    Bytes reply(kItePageSize, kErased);
    const bool good = !noController && reading_ && blocks_ != badBlockAt;
    if (good) {
        std::lock_guard lock(mutex_);
        std::copy_n(flash_.begin() + static_cast<std::ptrdiff_t>(readAddress_), kItePageSize, reply.begin());
        readAddress_ = static_cast<uint32_t>((readAddress_ + kItePageSize) % kIteFlashSize);
    }
    reply.push_back(good ? kGood : kBad);
    wire.reply(reply);
}

void IteChip::setAddress(Wire& wire) {
    const Bytes a = wire.getN(3);
    writeAddress_ = static_cast<uint32_t>(a[0] << 16 | a[1] << 8 | a[2]);
    addressSet_ = !noController && writeAddress_ < kIteFlashSize;
    wire.reply(addressSet_ ? kGood : kBad);
}

// Programming clears bits only; the address moves on by itself.
void IteChip::writeData(Wire& wire) {
    const uint8_t byte = wire.get();
    if (++dataFrames_ == noDataAckAt) return;
    if (!addressSet_ || writeAddress_ >= kIteFlashSize) return wire.reply(kBad);
    {
        std::lock_guard lock(mutex_);
        program(writeAddress_, std::span(&byte, 1));
    }
    ++writeAddress_;
    wire.reply(kGood);
}

namespace {
constexpr Firmware kIte{.id = kj::firmware::kIte, .version = "ITE_V2.3\r\n"};
KJ_REGISTER(Firmware, kIte)

std::shared_ptr<ChipModel> makeIte(const BenchOptions& options) {
    auto chip = std::make_shared<IteChip>(imageOr(options.flashFile, kIteFlashSize, IteChip::patternImage()));
    IteFaults faults = options.chipFaults<IteFaults>();
    faults.noController = faults.noController || options.noChip;
    chip->setFaults(faults);
    return chip;
}

IteFaults& faultsOf(BenchOptions& options) { return options.chipFaults<IteFaults>(); }

constexpr ChipFlag kFlags[] = {
    {"--ite-refuse-register-write", "N", "ITE: refuse the N-th register write after 'T'",
     [](BenchOptions& o, const std::string& f, const std::string& v) {
         faultsOf(o).refuseRegisterWriteAt = positiveArgument(f, v);
     }},
    {"--ite-bad-block", "N", "ITE: a bad status for the N-th block of a read",
     [](BenchOptions& o, const std::string& f, const std::string& v) {
         faultsOf(o).badBlockAt = positiveArgument(f, v);
     }},
    {"--ite-no-data-ack", "N", "ITE: no answer to the N-th data frame after 'T'",
     [](BenchOptions& o, const std::string& f, const std::string& v) {
         faultsOf(o).noDataAckAt = positiveArgument(f, v);
     }},
};

// The stride of the bytes a sample write leaves programmed.
constexpr size_t kSampleStride = 4099;

constexpr ChipEntry kIteEntry{
    .name = "ite",
    .firmware = kj::firmware::kIte,
    .make = makeIte,
    .flags = kFlags,
    .familyFlash = true,
    .writableSize = kIteFlashSize,
    .family = &kj::ite::kFamily,
    // Mostly erased, as the write sends only what is not: a few bytes keep a run short.
    .prepareWrite =
        [](ChipModel&, Bytes image) {
            Bytes sample(image.size(), kErased);
            for (size_t at = 0; at < sample.size(); at += kSampleStride) sample[at] = static_cast<uint8_t>(at);
            return sample;
        },
};
KJ_REGISTER(ChipEntry, kIteEntry)
}  // namespace

}  // namespace kjsim
