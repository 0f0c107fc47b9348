#include "edid/edid_info.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <numeric>

namespace kj {
namespace {

constexpr std::array<uint8_t, 8> kHeader{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

// Base block layout.
constexpr std::size_t kManufacturerOffset = 8;
constexpr std::size_t kProductOffset = 10;
constexpr std::size_t kSerialOffset = 12;
constexpr std::size_t kWeekOffset = 16;
constexpr std::size_t kYearOffset = 17;
constexpr std::size_t kVersionOffset = 18;
constexpr std::size_t kRevisionOffset = 19;
constexpr std::size_t kInputOffset = 20;
constexpr std::size_t kWidthCmOffset = 21;
constexpr std::size_t kHeightCmOffset = 22;
constexpr std::size_t kFirstDescriptorOffset = 54;
constexpr std::size_t kDescriptorSize = 18;
constexpr std::size_t kDescriptorCount = 4;
constexpr std::size_t kExtensionCountOffset = 126;
constexpr std::size_t kChecksumOffset = kEdidBlockSize - 1;

constexpr uint16_t kYearBase = 1990;
constexpr uint8_t kDigitalInput = 0x80;

// Display descriptor tags (byte 3 of a descriptor whose pixel clock is 0).
constexpr uint8_t kTagSerialString = 0xFF;
constexpr uint8_t kTagDataString = 0xFE;
constexpr uint8_t kTagProductName = 0xFC;
constexpr std::size_t kDescriptorTextOffset = 5;
constexpr std::size_t kDescriptorTextSize = 13;

uint16_t le16(std::span<const uint8_t> b, std::size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }

uint32_t le32(std::span<const uint8_t> b, std::size_t at) {
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 3]} << 24;
}

uint8_t blockChecksum(std::span<const uint8_t> block) {
    const unsigned sum = std::accumulate(block.begin(), block.begin() + kChecksumOffset, 0u);
    return static_cast<uint8_t>(0x100 - (sum & 0xFF));
}

// Three 5-bit letters, big endian, 1 = 'A'.
std::string decodePnpId(uint16_t packed) {
    std::string id;
    for (int shift : {10, 5, 0}) {
        const unsigned letter = (packed >> shift) & 0x1F;
        id += (letter >= 1 && letter <= 26) ? static_cast<char>('A' + letter - 1) : '?';
    }
    return id;
}

std::string descriptorText(std::span<const uint8_t> d) {
    std::string text;
    for (uint8_t c : d.subspan(kDescriptorTextOffset, kDescriptorTextSize)) {
        if (c == 0x0A) break;
        text += static_cast<char>(c);
    }
    // Padding is meant to be blanks, but some panels pad with NULs.
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    for (char& c : text)
        if (c < 0x20 || c > 0x7E) c = '.';
    return text;
}

EdidTiming decodeTiming(std::span<const uint8_t> d) {
    EdidTiming t;
    t.pixelClockKHz = uint32_t{le16(d, 0)} * 10;
    t.hActive = static_cast<uint16_t>(d[2] | (d[4] & 0xF0) << 4);
    t.hBlank = static_cast<uint16_t>(d[3] | (d[4] & 0x0F) << 8);
    t.vActive = static_cast<uint16_t>(d[5] | (d[7] & 0xF0) << 4);
    t.vBlank = static_cast<uint16_t>(d[6] | (d[7] & 0x0F) << 8);
    t.hFront = static_cast<uint16_t>(d[8] | (d[11] & 0xC0) << 2);
    t.hSync = static_cast<uint16_t>(d[9] | (d[11] & 0x30) << 4);
    t.vFront = static_cast<uint16_t>((d[10] >> 4) | (d[11] & 0x0C) << 2);
    t.vSync = static_cast<uint16_t>((d[10] & 0x0F) | (d[11] & 0x03) << 4);
    t.widthMm = static_cast<uint16_t>(d[12] | (d[14] & 0xF0) << 4);
    t.heightMm = static_cast<uint16_t>(d[13] | (d[14] & 0x0F) << 8);
    t.interlaced = (d[17] & 0x80) != 0;
    return t;
}

void decodeDescriptors(std::span<const uint8_t> base, EdidInfo& info) {
    for (std::size_t i = 0; i < kDescriptorCount; ++i) {
        const auto d = base.subspan(kFirstDescriptorOffset + i * kDescriptorSize, kDescriptorSize);
        if (le16(d, 0) != 0) {
            if (!info.preferred) info.preferred = decodeTiming(d);
            continue;
        }
        switch (d[3]) {
            case kTagProductName: info.texts.push_back({EdidTextKind::ProductName, descriptorText(d)}); break;
            case kTagDataString: info.texts.push_back({EdidTextKind::DataString, descriptorText(d)}); break;
            case kTagSerialString: info.texts.push_back({EdidTextKind::SerialString, descriptorText(d)}); break;
            default: break;
        }
    }
}

void decodeInput(std::span<const uint8_t> base, EdidInfo& info) {
    const uint8_t input = base[kInputOffset];
    info.digital = (input & kDigitalInput) != 0;
    if (!info.digital || info.version != 1 || info.revision < 4) return;
    const unsigned depthCode = (input >> 4) & 0x07;
    // 1 = 6 bits, 2 = 8 bits ... 6 = 16 bits; 0 undefined, 7 reserved.
    info.bitsPerColour = (depthCode >= 1 && depthCode <= 6) ? static_cast<uint8_t>(4 + 2 * depthCode) : 0;
    const unsigned iface = input & 0x0F;
    info.digitalInterface = iface <= static_cast<unsigned>(EdidInterface::DisplayPort)
                                ? static_cast<EdidInterface>(iface)
                                : EdidInterface::Reserved;
}

void decodeBaseBlock(std::span<const uint8_t> base, EdidInfo& info) {
    info.manufacturer =
        decodePnpId(static_cast<uint16_t>(base[kManufacturerOffset] << 8 | base[kManufacturerOffset + 1]));
    info.productCode = le16(base, kProductOffset);
    info.serialNumber = le32(base, kSerialOffset);
    info.week = base[kWeekOffset];
    info.year = static_cast<uint16_t>(kYearBase + base[kYearOffset]);
    info.version = base[kVersionOffset];
    info.revision = base[kRevisionOffset];
    decodeInput(base, info);
    info.widthCm = base[kWidthCmOffset];
    info.heightCm = base[kHeightCmOffset];
    decodeDescriptors(base, info);
    info.extensionCount = base[kExtensionCountOffset];
}

// Block 0 and the extensions within the count, as far as the image holds them whole.
std::size_t judgedBlockCount(std::size_t imageSize, uint8_t extensionCount) {
    const std::size_t whole = imageSize / kEdidBlockSize;
    return whole == 0 ? 0 : std::min<std::size_t>(whole, std::size_t{extensionCount} + 1);
}

std::string printf1(const char* fmt, auto... args) {
    char buf[160];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

std::string headerLine(const EdidInfo& info) {
    if (info.headerValid) return "Header: valid";
    std::string line = "Header: invalid";
    if (info.headerBytes.empty()) return line;
    line += " (found";
    for (uint8_t b : info.headerBytes) line += printf1(" %02X", b);
    return line + ")";
}

std::string madeInLine(const EdidInfo& info) {
    if (info.modelYear()) return printf1("Model year: %u", unsigned{info.year});
    if (info.week == 0) return printf1("Made in: %u", unsigned{info.year});
    return printf1("Made in: week %u of %u", unsigned{info.week}, unsigned{info.year});
}

std::string inputLine(const EdidInfo& info) {
    if (!info.digital) return "Input: analog";
    if (info.version != 1 || info.revision < 4) return "Input: digital";
    std::string line = "Input: digital, ";
    line += info.bitsPerColour ? printf1("%u bits per colour", unsigned{info.bitsPerColour})
                               : std::string("colour depth undefined");
    return line + ", " + edidInterfaceName(info.digitalInterface);
}

std::string screenSizeLine(const EdidInfo& info) {
    if (info.widthCm == 0 || info.heightCm == 0) return "Screen size: not given";
    return printf1("Screen size: %u x %u cm", unsigned{info.widthCm}, unsigned{info.heightCm});
}

std::string preferredModeLine(const EdidInfo& info) {
    if (!info.preferred) return "Preferred mode: none";
    const EdidTiming& t = *info.preferred;
    return printf1("Preferred mode: %u x %u%s @ %.3f Hz, pixel clock %.2f MHz", unsigned{t.hActive},
                   unsigned{t.vActive}, t.interlaced ? " interlaced" : "", t.refreshHz(), t.pixelClockKHz / 1000.0);
}

// A laptop panel's data strings hold its maker ("AUO", "LG Display") and its
// part number ("B140XW01 V0"); only the part number carries digits.
bool isPartNumber(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::string textLine(const EdidText& t) {
    switch (t.kind) {
        case EdidTextKind::ProductName: return "Text (product name): " + t.text;
        case EdidTextKind::DataString:
            return (isPartNumber(t.text) ? "Panel part number: " : "Text (data string): ") + t.text;
        case EdidTextKind::SerialString: return "Text (serial): " + t.text;
    }
    return "Text: " + t.text;
}

std::string extensionsLine(const EdidInfo& info) {
    std::string line = printf1("Extensions: %u", unsigned{info.extensionCount});
    std::vector<std::string> notes;
    for (const auto& b : info.blocks)
        if (b.index > 0) notes.push_back(edidExtensionName(b.tag));
    if (const unsigned missing = info.missingExtensions()) notes.push_back(printf1("%u not in the image", missing));
    if (notes.empty()) return line;
    line += " (";
    for (std::size_t i = 0; i < notes.size(); ++i) line += (i ? ", " : "") + notes[i];
    return line + ")";
}

std::string checksumLine(const EdidBlockChecksum& b) {
    return printf1("Block %u checksum: stored 0x%02X, computed 0x%02X, %s", b.index, unsigned{b.stored},
                   unsigned{b.computed}, b.ok() ? "OK" : "WRONG");
}

}  // namespace

// An interlaced mode stores one field; its fields are half a line longer than
// that, and the rate given is the field rate.
double EdidTiming::refreshHz() const {
    const double lines = double(vTotal()) + (interlaced ? 0.5 : 0.0);
    const double frame = double(hTotal()) * lines;
    return frame > 0 ? pixelClockKHz * 1000.0 / frame : 0.0;
}

std::optional<std::vector<uint8_t>> edidFromHexText(std::string_view text) {
    std::vector<uint8_t> bytes;
    bool inBlock = false;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        std::string digits;
        bool hexLine = true;
        for (char c : line) {
            if (c == ' ' || c == '\t' || c == '\r') continue;
            if (!std::isxdigit(static_cast<unsigned char>(c))) {
                hexLine = false;
                break;
            }
            digits.push_back(c);
        }
        if (!hexLine || digits.empty() || digits.size() % 2) {
            // The hex of one EDID runs in consecutive lines; blank lines may part its blocks.
            if (inBlock && !(hexLine && digits.empty())) break;
            continue;
        }
        inBlock = true;
        for (size_t i = 0; i < digits.size(); i += 2) {
            bytes.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
        }
    }
    const auto found = std::search(bytes.begin(), bytes.end(), kHeader.begin(), kHeader.end());
    if (found == bytes.end()) return std::nullopt;
    return std::vector<uint8_t>(found, bytes.end());
}

unsigned EdidInfo::missingExtensions() const {
    if (!baseComplete) return 0;
    const std::size_t present = blocks.empty() ? 0 : blocks.size() - 1;
    return static_cast<unsigned>(extensionCount - present);
}

EdidInfo decodeEdid(std::span<const uint8_t> image) {
    EdidInfo info;
    info.imageSize = image.size();
    const auto found = image.first(std::min(image.size(), kHeader.size()));
    info.headerBytes.assign(found.begin(), found.end());
    info.headerValid = std::ranges::equal(found, kHeader);
    info.baseComplete = image.size() >= kEdidBlockSize;
    if (!info.baseComplete) return info;

    decodeBaseBlock(image.first(kEdidBlockSize), info);
    const std::size_t judged = judgedBlockCount(image.size(), info.extensionCount);
    for (std::size_t i = 0; i < judged; ++i) {
        const auto block = image.subspan(i * kEdidBlockSize, kEdidBlockSize);
        info.blocks.push_back({static_cast<unsigned>(i), block[0], block[kChecksumOffset], blockChecksum(block)});
    }
    return info;
}

std::vector<std::string> describeEdid(const EdidInfo& info) {
    std::vector<std::string> lines;
    lines.push_back(headerLine(info));
    if (!info.baseComplete) {
        lines.push_back(
            printf1("Image: %zu bytes, too short for an EDID (a block is %zu bytes)", info.imageSize, kEdidBlockSize));
        return lines;
    }
    lines.push_back(
        printf1("Manufacturer: %s  Product: 0x%04X", info.manufacturer.c_str(), unsigned{info.productCode}));
    // Zero means the maker gave none.
    if (info.serialNumber != 0) lines.push_back(printf1("Serial number: %u", unsigned{info.serialNumber}));
    lines.push_back(madeInLine(info));
    lines.push_back(printf1("EDID version: %u.%u", unsigned{info.version}, unsigned{info.revision}));
    lines.push_back(inputLine(info));
    lines.push_back(screenSizeLine(info));
    lines.push_back(preferredModeLine(info));
    for (const auto& t : info.texts) lines.push_back(textLine(t));
    lines.push_back(extensionsLine(info));
    for (const auto& b : info.blocks) lines.push_back(checksumLine(b));
    return lines;
}

bool baseBlockSane(const EdidInfo& info) {
    return info.headerValid && !info.blocks.empty() && info.blocks.front().ok();
}

void fixChecksums(std::span<uint8_t> image) {
    if (image.size() < kEdidBlockSize) return;
    const std::size_t judged = judgedBlockCount(image.size(), image[kExtensionCountOffset]);
    for (std::size_t i = 0; i < judged; ++i) {
        const auto block = image.subspan(i * kEdidBlockSize, kEdidBlockSize);
        block[kChecksumOffset] = blockChecksum(block);
    }
}

std::string edidExtensionName(uint8_t tag) {
    switch (tag) {
        case 0x02: return "CTA-861";
        case 0x10: return "Video Timing";
        case 0x40: return "Display Information";
        case 0x50: return "Localized String";
        case 0x60: return "DPVL";
        case 0x70: return "DisplayID";
        case 0xF0: return "Block Map";
        case 0xFF: return "Manufacturer-Specific";
        default: return printf1("unknown 0x%02X", unsigned{tag});
    }
}

std::string edidInterfaceName(EdidInterface digitalInterface) {
    switch (digitalInterface) {
        case EdidInterface::Undefined: return "interface undefined";
        case EdidInterface::Dvi: return "DVI";
        case EdidInterface::HdmiA: return "HDMI-a";
        case EdidInterface::HdmiB: return "HDMI-b";
        case EdidInterface::Mddi: return "MDDI";
        case EdidInterface::DisplayPort: return "DisplayPort";
        case EdidInterface::Reserved: return "reserved interface";
    }
    return "reserved interface";
}

}  // namespace kj
