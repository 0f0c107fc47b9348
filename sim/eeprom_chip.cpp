#include "sim/eeprom_chip.h"

#include <array>
#include <numeric>

#include "edid/edid.h"
#include "sim/bench.h"

namespace kjsim {

namespace {
constexpr uint8_t kEepromCmd = 'E';
constexpr uint8_t kReadSub = 'r';
constexpr uint8_t kWriteSub = 'w';
constexpr uint8_t kReadyByte = '>';
constexpr uint8_t kBlank = 0xFF;
const std::string kOk = "OK";
const std::string kError = "ER";

constexpr size_t kEdidBlock = 128;

// A 15.6" 1920x1080 eDP panel: fictitious maker "KVP", one CVT reduced-blanking
// detailed timing and three text descriptors.
// clang-format off
constexpr std::array<uint8_t, kEdidBlock - 1> kPanelEdid = {
    // header
    0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00,
    // maker "KVP", product 0x15E6, serial 0, week 12 of 2015, EDID 1.4
    0x2E, 0xD0, 0xE6, 0x15, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x19, 0x01, 0x04,
    // digital 6 bpc DisplayPort, 34 x 19 cm, gamma 2.2, preferred timing native
    0x95, 0x22, 0x13, 0x78, 0x02,
    // chromaticity (sRGB-like)
    0xEE, 0x95, 0xA3, 0x54, 0x4C, 0x99, 0x26, 0x0F, 0x50, 0x54,
    // no established or standard timings
    0x00, 0x00, 0x00,
    0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01,
    // 1920x1080 at 60 Hz, 138.50 MHz, 344 x 194 mm
    0x1A, 0x36, 0x80, 0xA0, 0x70, 0x38, 0x1F, 0x40, 0x30, 0x20, 0x35, 0x00, 0x58, 0xC2, 0x10, 0x00,
    0x00, 0x1A,
    // alphanumeric data string
    0x00, 0x00, 0x00, 0xFE, 0x00, 'K', 'V', 'P', 0x0A, ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
    // alphanumeric data string: panel model
    0x00, 0x00, 0x00, 0xFE, 0x00, 'K', '1', '5', '6', 'H', 'F', 'D', '-', 'N', '0', '1', 0x0A, ' ',
    // display product name
    0x00, 0x00, 0x00, 0xFC, 0x00, 'L', 'A', 'P', 'T', 'O', 'P', ' ', 'P', 'A', 'N', 'E', 'L', 0x0A,
    // no extension blocks
    0x00,
};
// clang-format on
}  // namespace

Bytes builtInPanelEdid() {
    Bytes edid(kPanelEdid.begin(), kPanelEdid.end());
    const unsigned sum = std::accumulate(edid.begin(), edid.end(), 0u);
    edid.push_back(static_cast<uint8_t>(0x100 - (sum & 0xFF)));
    edid.resize(kEepromSize, kBlank);
    return edid;
}

EepromChip::EepromChip() : EepromChip(builtInPanelEdid()) {}

EepromChip::EepromChip(Bytes contents) : FlashChip(kEepromSize, kBlank, std::move(contents), Cells::TakeByte) {}

bool EepromChip::handle(uint8_t command, Wire& wire) {
    if (command != kEepromCmd) return false;
    const uint8_t sub = wire.get();
    if (silent) return true;
    if (sub == kReadSub) {
        read(wire);
    } else if (sub == kWriteSub) {
        write(wire);
    } else {
        wire.unget(sub);
    }
    return true;
}

void EepromChip::read(Wire& wire) {
    Bytes out = notResponding ? Bytes(kEepromSize, kBlank) : flash();
    const std::string& status = notResponding ? kError : kOk;
    out.insert(out.end(), status.begin(), status.end());
    wire.replyInPieces(out, readPieces, pieceGap);
}

void EepromChip::write(Wire& wire) {
    wire.reply(kReadyByte);
    const Bytes image = wire.getN(kEepromSize);
    if (notResponding || writeProtected) {
        wire.reply(kError);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        program(0, image);
    }
    wire.reply(kOk);
}

namespace {
std::shared_ptr<ChipModel> makeEeprom(const BenchOptions& options) {
    auto chip = std::make_shared<EepromChip>(imageOr(options.eepromFile, kEepromSize, builtInPanelEdid()));
    chip->notResponding = options.noChip;
    return chip;
}

constexpr ChipFlag kFlags[] = {
    {"--eeprom", "FILE", "EDID EEPROM image (default: a built-in panel EDID)",
     [](BenchOptions& o, const std::string&, const std::string& v) { o.eepromFile = v; }},
};

constexpr ChipEntry kEeprom{
    .name = "eeprom",
    .firmware = kj::firmware::kV41,
    .make = makeEeprom,
    .flags = kFlags,
    .writableSize = kEepromSize,
    .family = &kj::edid::kFamily,
};
KJ_REGISTER(ChipEntry, kEeprom)
}  // namespace

}  // namespace kjsim
