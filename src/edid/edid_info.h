#pragma once

// Decoding of a panel EDID image into the facts a technician checks before
// writing it back: identity, manufacture date, input, preferred mode, text
// descriptors and the checksum of each 128-byte block. Pure functions, no I/O.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kj {

inline constexpr std::size_t kEdidBlockSize = 128;

// Digital interface of EDID 1.4 (byte 20, bits 3..0).
enum class EdidInterface : uint8_t {
    Undefined = 0,
    Dvi = 1,
    HdmiA = 2,
    HdmiB = 3,
    Mddi = 4,
    DisplayPort = 5,
    Reserved = 0xFF,  // any other value
};

enum class EdidTextKind : uint8_t {
    ProductName,   // descriptor 0xFC
    DataString,    // descriptor 0xFE
    SerialString,  // descriptor 0xFF
};

struct EdidText {
    EdidTextKind kind;
    std::string text;  // up to 0x0A, trailing blanks trimmed, non-printables as '.'
};

// A detailed timing descriptor, with the values as stored.
struct EdidTiming {
    uint32_t pixelClockKHz = 0;  // stored in 10 kHz units
    uint16_t hActive = 0, hBlank = 0, hFront = 0, hSync = 0;
    uint16_t vActive = 0, vBlank = 0, vFront = 0, vSync = 0;
    uint16_t widthMm = 0, heightMm = 0;
    bool interlaced = false;

    uint32_t hTotal() const { return uint32_t{hActive} + hBlank; }
    uint32_t vTotal() const { return uint32_t{vActive} + vBlank; }
    // Pixel clock / (htotal * vtotal); 0 when the totals are 0.
    double refreshHz() const;
};

struct EdidBlockChecksum {
    unsigned index = 0;    // 0 = base block
    uint8_t tag = 0;       // first byte of the block: extension kind
    uint8_t stored = 0;    // last byte of the block
    uint8_t computed = 0;  // the value that makes the block sum to 0 mod 256
    bool ok() const { return stored == computed; }
};

struct EdidInfo {
    std::size_t imageSize = 0;
    bool headerValid = false;          // bytes 0..7 are 00 FF FF FF FF FF FF 00
    std::vector<uint8_t> headerBytes;  // the image's first 8 bytes, fewer if it is shorter
    bool baseComplete = false;         // the image holds a whole base block; nothing below is set otherwise

    std::string manufacturer;  // three letters from the packed PNP ID, '?' for an invalid letter
    uint16_t productCode = 0;
    uint32_t serialNumber = 0;
    uint8_t week = 0;  // 0 = not given, 0xFF = year is a model year
    uint16_t year = 0;
    uint8_t version = 0, revision = 0;

    bool digital = false;
    uint8_t bitsPerColour = 0;                                  // digital 1.4 only; 0 = undefined or not given
    EdidInterface digitalInterface = EdidInterface::Undefined;  // digital 1.4 only
    uint8_t widthCm = 0, heightCm = 0;

    std::optional<EdidTiming> preferred;  // first detailed timing descriptor
    std::vector<EdidText> texts;          // in descriptor order
    uint8_t extensionCount = 0;           // byte 126
    // Block 0 and each extension within the count that the image holds whole.
    std::vector<EdidBlockChecksum> blocks;

    bool modelYear() const { return week == 0xFF; }
    // Extensions that the count announces but the image does not hold whole.
    unsigned missingExtensions() const;
};

EdidInfo decodeEdid(std::span<const uint8_t> image);

// The EDID in a hex dump: edid-decode's own, or an EDID block of `xrandr
// --verbose` (the first run of lines that hold nothing but hex pairs), from
// its header on. Nothing when no header is found.
std::optional<std::vector<uint8_t>> edidFromHexText(std::string_view text);

// Summary lines, English, one fact per line.
std::vector<std::string> describeEdid(const EdidInfo& info);

// Header valid and the base block's checksum right.
bool baseBlockSane(const EdidInfo& info);

// Sets the checksum byte of block 0 and of each extension block within the
// extension count that the image holds whole. Other bytes are left alone.
void fixChecksums(std::span<uint8_t> image);

// Short names of the extension kinds, e.g. "CTA-861", "DisplayID".
std::string edidExtensionName(uint8_t tag);
std::string edidInterfaceName(EdidInterface digitalInterface);

}  // namespace kj
