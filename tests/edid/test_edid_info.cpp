// The decoder against real panel EDIDs: every fact it reports must agree with
// the reference decoder's output stored beside each sample (and with the
// installed reference decoder, when there is one).

#include "edid/edid_info.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const fs::path kDataDir = fs::path(KJ_TEST_DATA) / "edid";
constexpr std::size_t kSampleCount = 14;

Bytes readHex(const fs::path& path) {
    std::ifstream in(path);
    Bytes bytes;
    std::string pair;
    while (in >> pair) bytes.push_back(static_cast<uint8_t>(std::stoul(pair, nullptr, 16)));
    return bytes;
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

Bytes sample(const std::string& stem) { return readHex(kDataDir / (stem + ".hex")); }

std::vector<std::string> sampleStems() {
    std::vector<std::string> stems;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(kDataDir, ec))
        if (e.path().extension() == ".hex") stems.push_back(e.path().stem().string());
    std::sort(stems.begin(), stems.end());
    return stems;
}

std::string rtrim(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

std::string fmt(const char* f, auto... args) {
    char buf[200];
    std::snprintf(buf, sizeof buf, f, args...);
    return buf;
}

bool hasLine(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool anyLineContains(const std::vector<std::string>& lines, const std::string& part) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(part) != std::string::npos; });
}

// What the reference decoder printed, parsed from its text output.
struct Reference {
    std::string manufacturer;
    unsigned model = 0;
    unsigned serial = 0;  // printed only when not zero
    unsigned week = 0;    // 0: year only, 0xFF: model year
    unsigned year = 0;
    unsigned version = 0, revision = 0;
    bool digital = false;
    std::optional<unsigned> bitsPerColour;
    std::optional<std::string> interfaceName;
    unsigned widthCm = 0, heightCm = 0;
    bool hasDtd = false;
    unsigned hActive = 0, vActive = 0, widthMm = 0, heightMm = 0;
    double refreshHz = 0, pixelMHz = 0;
    std::vector<kj::EdidText> texts;
    unsigned extensions = 0;
    std::vector<unsigned> checksums;      // per block, in order
    std::vector<std::string> blockNames;  // per extension block
};

Reference parseReference(const std::string& output) {
    static const std::regex manufacturer(R"(^    Manufacturer: (\S+)$)"), model(R"(^    Model: (\d+)$)"),
        serial(R"(^    Serial Number: (\d+))"), madeWeek(R"(^    Made in: week (\d+) of (\d+)$)"),
        madeYear(R"(^    Made in: (\d+)$)"), modelYear(R"(^    Model year: (\d+)$)"),
        version(R"(^  EDID Structure Version & Revision: (\d+)\.(\d+)$)"),
        bits(R"(^    Bits per primary color channel: (\d+)$)"), iface(R"(^    (\S+) interface$)"),
        size(R"(^    Maximum image size: (\d+) cm x (\d+) cm$)"),
        dtd(R"(^    DTD 1: +(\d+)x(\d+) +([\d.]+) Hz .* ([\d.]+) MHz \((\d+) mm x (\d+) mm\))"),
        text(R"(^    (Display Product Name|Alphanumeric Data String|Display Product Serial Number): '(.*)'$)"),
        extensions(R"(^  Extension blocks: (\d+)$)"), checksum(R"(^Checksum: 0x([0-9a-f]{2}))"),
        block(R"(^Block (\d+), (.*) Extension Block:$)");
    Reference r;
    bool inBase = false;  // a hex dump and a dashes line may come first
    std::istringstream in(output);
    std::smatch m;
    for (std::string line; std::getline(in, line);) {
        if (line == "Warnings:" || line == "Failures:" || line.starts_with("EDID conformity")) break;
        if (line == "Block 0, Base EDID:") inBase = true;
        if (line.starts_with("----")) inBase = false;
        if (std::regex_search(line, m, checksum)) r.checksums.push_back(std::stoul(m[1], nullptr, 16));
        if (std::regex_search(line, m, block)) r.blockNames.push_back(m[2]);
        if (!inBase) continue;
        if (std::regex_search(line, m, manufacturer)) r.manufacturer = m[1];
        if (std::regex_search(line, m, model)) r.model = std::stoul(m[1]);
        if (std::regex_search(line, m, serial)) r.serial = std::stoul(m[1]);
        if (std::regex_search(line, m, madeWeek)) r.week = std::stoul(m[1]), r.year = std::stoul(m[2]);
        if (std::regex_search(line, m, madeYear)) r.week = 0, r.year = std::stoul(m[1]);
        if (std::regex_search(line, m, modelYear)) r.week = 0xFF, r.year = std::stoul(m[1]);
        if (std::regex_search(line, m, version)) r.version = std::stoul(m[1]), r.revision = std::stoul(m[2]);
        if (line == "    Digital display") r.digital = true;
        if (std::regex_search(line, m, bits)) r.bitsPerColour = std::stoul(m[1]);
        if (std::regex_search(line, m, iface)) r.interfaceName = m[1];
        if (std::regex_search(line, m, size)) r.widthCm = std::stoul(m[1]), r.heightCm = std::stoul(m[2]);
        if (std::regex_search(line, m, extensions)) r.extensions = std::stoul(m[1]);
        if (std::regex_search(line, m, dtd)) {
            r.hasDtd = true;
            r.hActive = std::stoul(m[1]), r.vActive = std::stoul(m[2]);
            r.refreshHz = std::stod(m[3]), r.pixelMHz = std::stod(m[4]);
            r.widthMm = std::stoul(m[5]), r.heightMm = std::stoul(m[6]);
        }
        if (std::regex_search(line, m, text)) {
            const auto kind = m[1] == "Display Product Name"       ? kj::EdidTextKind::ProductName
                              : m[1] == "Alphanumeric Data String" ? kj::EdidTextKind::DataString
                                                                   : kj::EdidTextKind::SerialString;
            r.texts.push_back({kind, rtrim(m[2])});
        }
    }
    return r;
}

// The reference decoder ends a string at the first non-printable byte; ours
// shows it as '.' and goes on.
void expectSameText(const std::string& ours, const std::string& reference) {
    if (ours == reference) return;
    EXPECT_TRUE(ours.starts_with(reference + ".")) << "ours '" << ours << "', reference '" << reference << "'";
}

void expectAgrees(const Bytes& image, const Reference& ref) {
    const kj::EdidInfo info = kj::decodeEdid(image);
    const auto lines = kj::describeEdid(info);
    EXPECT_TRUE(info.headerValid);
    EXPECT_EQ(info.manufacturer, ref.manufacturer);
    EXPECT_EQ(info.productCode, ref.model);
    EXPECT_TRUE(hasLine(lines, fmt("Manufacturer: %s  Product: 0x%04X", ref.manufacturer.c_str(), ref.model)));
    EXPECT_EQ(info.serialNumber, ref.serial);
    EXPECT_EQ(info.week, ref.week);
    EXPECT_EQ(info.year, ref.year);
    EXPECT_EQ(info.version, ref.version);
    EXPECT_EQ(info.revision, ref.revision);
    EXPECT_TRUE(hasLine(lines, fmt("EDID version: %u.%u", ref.version, ref.revision)));
    EXPECT_EQ(info.digital, ref.digital);
    EXPECT_EQ(info.bitsPerColour, ref.bitsPerColour.value_or(0));
    if (ref.interfaceName) {
        EXPECT_EQ(kj::edidInterfaceName(info.digitalInterface), *ref.interfaceName);
    }
    EXPECT_EQ(info.widthCm, ref.widthCm);
    EXPECT_EQ(info.heightCm, ref.heightCm);

    ASSERT_TRUE(ref.hasDtd);
    ASSERT_TRUE(info.preferred.has_value());
    EXPECT_EQ(info.preferred->hActive, ref.hActive);
    EXPECT_EQ(info.preferred->vActive, ref.vActive);
    EXPECT_EQ(info.preferred->widthMm, ref.widthMm);
    EXPECT_EQ(info.preferred->heightMm, ref.heightMm);
    EXPECT_NEAR(info.preferred->refreshHz(), ref.refreshHz, 1e-6);
    EXPECT_NEAR(info.preferred->pixelClockKHz / 1000.0, ref.pixelMHz, 1e-6);
    EXPECT_TRUE(hasLine(lines, fmt("Preferred mode: %u x %u @ %.3f Hz, pixel clock %.2f MHz", ref.hActive, ref.vActive,
                                   ref.refreshHz, ref.pixelMHz)));

    ASSERT_EQ(info.texts.size(), ref.texts.size());
    for (std::size_t i = 0; i < ref.texts.size(); ++i) {
        EXPECT_EQ(info.texts[i].kind, ref.texts[i].kind) << "text " << i;
        expectSameText(info.texts[i].text, ref.texts[i].text);
    }

    EXPECT_EQ(info.extensionCount, ref.extensions);
    EXPECT_TRUE(hasLine(lines, fmt("Extensions: %u", ref.extensions)) ||
                anyLineContains(lines, fmt("Extensions: %u (", ref.extensions)));
    ASSERT_EQ(info.blocks.size(), ref.checksums.size());
    for (std::size_t i = 0; i < info.blocks.size(); ++i) {
        EXPECT_EQ(info.blocks[i].stored, ref.checksums[i]) << "block " << i;
        EXPECT_TRUE(info.blocks[i].ok()) << "block " << i;
        EXPECT_TRUE(hasLine(lines, fmt("Block %zu checksum: stored 0x%02X, computed 0x%02X, OK", i, ref.checksums[i],
                                       ref.checksums[i])));
    }
    ASSERT_EQ(ref.blockNames.size(), ref.extensions);
    for (std::size_t i = 0; i < ref.blockNames.size(); ++i)
        EXPECT_EQ(kj::edidExtensionName(info.blocks[i + 1].tag), ref.blockNames[i]);
    EXPECT_TRUE(kj::baseBlockSane(info));
}

#ifdef _WIN32
// The reference decoder is a Linux program.
std::optional<fs::path> installedDecoder() { return std::nullopt; }
std::string runDecoder(const fs::path&, const Bytes&, const std::string&) { return {}; }
#else
std::optional<fs::path> installedDecoder() {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const fs::path candidate = fs::path(dir) / "edid-decode";
        if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::nullopt;
}

std::string runDecoder(const fs::path& decoder, const Bytes& image, const std::string& stem) {
    const fs::path bin = fs::temp_directory_path() / ("kj_edid_" + std::to_string(::getpid()) + "_" + stem + ".bin");
    std::ofstream(bin, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), image.size());
    std::string output;
    if (FILE* p = ::popen(("'" + decoder.string() + "' '" + bin.string() + "' 2>/dev/null").c_str(), "r")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) output.append(buf, n);
        ::pclose(p);
    }
    fs::remove(bin);
    return output;
}
#endif

TEST(EdidSamples, AllPanelsArePresent) {
    const auto stems = sampleStems();
    ASSERT_EQ(stems.size(), kSampleCount) << kDataDir;
    for (const auto& stem : stems) {
        EXPECT_TRUE(fs::exists(kDataDir / (stem + ".txt"))) << stem;
        const auto size = sample(stem).size();
        EXPECT_TRUE(size == 128 || size == 256) << stem << ": " << size;
    }
}

class EdidPanel : public ::testing::TestWithParam<std::string> {};

TEST_P(EdidPanel, AgreesWithStoredDecoderOutput) {
    expectAgrees(sample(GetParam()), parseReference(readText(kDataDir / (GetParam() + ".txt"))));
}

TEST_P(EdidPanel, AgreesWithInstalledDecoder) {
    const auto decoder = installedDecoder();
    if (!decoder) GTEST_SKIP() << "edid-decode is not installed";
    const Bytes image = sample(GetParam());
    const std::string output = runDecoder(*decoder, image, GetParam());
    ASSERT_FALSE(output.empty());
    expectAgrees(image, parseReference(output));
}

TEST_P(EdidPanel, FixChecksumsLeavesGoodImageAlone) {
    const Bytes original = sample(GetParam());
    Bytes image = original;
    kj::fixChecksums(image);
    EXPECT_EQ(image, original);
}

INSTANTIATE_TEST_SUITE_P(Real, EdidPanel, ::testing::ValuesIn(sampleStems()),
                         [](const auto& info) { return info.param; });

// --- checksums and block judging ---

const std::string kCta = "AUO42EB_F726DCFD0007";    // 256 bytes, one CTA-861 extension
const std::string kPlain = "AUO103C_22F8D0D16BC6";  // 128 bytes, EDID 1.3

std::string checksumLine(unsigned block, unsigned stored, unsigned computed, bool ok) {
    return fmt("Block %u checksum: stored 0x%02X, computed 0x%02X, %s", block, stored, computed, ok ? "OK" : "WRONG");
}

TEST(EdidChecksum, CorruptExtensionByteFlagsOnlyThatBlockAndFixRepairsIt) {
    Bytes image = sample(kCta);
    ++image[200];  // the block now sums to 1 more, so the right checksum is 1 less
    const unsigned stored = image[255];
    const unsigned right = (stored + 0xFF) & 0xFF;
    const auto info = kj::decodeEdid(image);
    ASSERT_EQ(info.blocks.size(), 2u);
    EXPECT_TRUE(info.blocks[0].ok());
    EXPECT_FALSE(info.blocks[1].ok());
    EXPECT_TRUE(kj::baseBlockSane(info));
    EXPECT_TRUE(hasLine(kj::describeEdid(info), checksumLine(1, stored, right, false)));

    const Bytes corrupted = image;
    kj::fixChecksums(image);
    EXPECT_EQ(image[255], right);
    image[255] = corrupted[255];
    EXPECT_EQ(image, corrupted) << "only the checksum byte may change";
    image[255] = static_cast<uint8_t>(right);
    const auto fixed = kj::decodeEdid(image);
    EXPECT_TRUE(fixed.blocks[0].ok() && fixed.blocks[1].ok());
}

TEST(EdidChecksum, CorruptBaseByteMakesBaseInsane) {
    Bytes image = sample(kCta);
    ++image[20];
    const auto info = kj::decodeEdid(image);
    EXPECT_FALSE(info.blocks[0].ok());
    EXPECT_TRUE(info.blocks[1].ok());
    EXPECT_FALSE(kj::baseBlockSane(info));
    EXPECT_TRUE(hasLine(kj::describeEdid(info), checksumLine(0, image[127], (image[127] + 0xFF) & 0xFF, false)));
    kj::fixChecksums(image);
    EXPECT_TRUE(kj::baseBlockSane(kj::decodeEdid(image)));
}

TEST(EdidChecksum, SingleBlockImageJudgesBlockZeroOnly) {
    const auto info = kj::decodeEdid(sample(kPlain));
    ASSERT_EQ(info.imageSize, 128u);
    ASSERT_EQ(info.blocks.size(), 1u);
    EXPECT_FALSE(anyLineContains(kj::describeEdid(info), "Block 1"));
}

TEST(EdidChecksum, BlockBeyondExtensionCountIsNotJudgedNorTouched) {
    Bytes image = sample(kPlain);
    for (unsigned i = 0; i < 128; ++i) image.push_back(static_cast<uint8_t>(i * 37 + 5));
    const Bytes before = image;
    const auto info = kj::decodeEdid(image);
    EXPECT_EQ(info.extensionCount, 0u);
    EXPECT_EQ(info.blocks.size(), 1u);
    EXPECT_EQ(info.missingExtensions(), 0u);
    EXPECT_TRUE(kj::baseBlockSane(info));
    const auto lines = kj::describeEdid(info);
    EXPECT_TRUE(hasLine(lines, "Extensions: 0"));
    EXPECT_FALSE(anyLineContains(lines, "Block 1"));
    kj::fixChecksums(image);
    EXPECT_EQ(image, before);
}

TEST(EdidChecksum, AnnouncedExtensionMissingFromImage) {
    Bytes buffer = sample(kPlain);
    buffer[126] = 1;
    buffer.resize(256, 0xA5);  // beyond the span handed over: must stay untouched
    const std::span<uint8_t> image(buffer.data(), 128);
    kj::fixChecksums(image);
    EXPECT_TRUE(std::all_of(buffer.begin() + 128, buffer.end(), [](uint8_t b) { return b == 0xA5; }));
    const auto info = kj::decodeEdid(image);
    EXPECT_EQ(info.blocks.size(), 1u);
    EXPECT_EQ(info.missingExtensions(), 1u);
    EXPECT_TRUE(kj::baseBlockSane(info));
    EXPECT_TRUE(hasLine(kj::describeEdid(info), "Extensions: 1 (1 not in the image)"));
}

TEST(EdidChecksum, BlankEepromIsReportedWithoutALineForEveryAnnouncedBlock) {
    const Bytes blank(256, 0xFF);
    const auto info = kj::decodeEdid(blank);
    EXPECT_FALSE(info.headerValid);
    EXPECT_EQ(info.extensionCount, 255u);
    EXPECT_EQ(info.blocks.size(), 2u);
    EXPECT_EQ(info.missingExtensions(), 254u);
    EXPECT_EQ(info.manufacturer, "???");
    const auto lines = kj::describeEdid(info);
    EXPECT_EQ(lines.front(), "Header: invalid (found FF FF FF FF FF FF FF FF)");
    EXPECT_TRUE(hasLine(lines, "Extensions: 255 (Manufacturer-Specific, 254 not in the image)"));
    EXPECT_LT(lines.size(), 20u);
}

// --- short and damaged input ---

TEST(EdidDecode, ShortInputDecodesNothingBeyondTheHeader) {
    const Bytes full = sample(kPlain);
    for (std::size_t size : {0u, 5u, 100u, 127u}) {
        Bytes image(full.begin(), full.begin() + size);
        const auto info = kj::decodeEdid(image);
        EXPECT_EQ(info.headerValid, size >= 8) << size;
        EXPECT_FALSE(info.baseComplete);
        EXPECT_FALSE(kj::baseBlockSane(info));
        EXPECT_TRUE(info.blocks.empty());
        EXPECT_TRUE(info.manufacturer.empty());
        const auto lines = kj::describeEdid(info);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[1], fmt("Image: %zu bytes, too short for an EDID (a block is 128 bytes)", size));
        const Bytes before = image;
        kj::fixChecksums(image);
        EXPECT_EQ(image, before);
    }
    EXPECT_EQ(kj::describeEdid(kj::decodeEdid(Bytes{}))[0], "Header: invalid");
    EXPECT_EQ(kj::describeEdid(kj::decodeEdid(Bytes(full.begin(), full.begin() + 5)))[0],
              "Header: invalid (found 00 FF FF FF FF)");
}

TEST(EdidDecode, BadHeaderIsFlaggedButTheRestIsStillShown) {
    Bytes image = sample(kPlain);
    image[7] = 0x01;
    kj::fixChecksums(image);
    const auto info = kj::decodeEdid(image);
    EXPECT_FALSE(info.headerValid);
    EXPECT_TRUE(info.blocks[0].ok());
    EXPECT_FALSE(kj::baseBlockSane(info));
    const auto lines = kj::describeEdid(info);
    EXPECT_EQ(lines.front(), "Header: invalid (found 00 FF FF FF FF FF FF 01)");
    EXPECT_TRUE(hasLine(lines, "Manufacturer: AUO  Product: 0x103C"));
}

// --- fields the samples do not cover ---

void putTextDescriptor(Bytes& image, unsigned slot, uint8_t tag, const std::string& payload) {
    uint8_t* d = image.data() + 54 + slot * 18;
    std::fill(d, d + 18, 0);
    d[3] = tag;
    std::copy(payload.begin(), payload.end(), d + 5);
}

TEST(EdidDecode, TextDescriptorsAreCutAtNewlineTrimmedAndMadePrintable) {
    Bytes image = sample(kPlain);
    putTextDescriptor(image, 0, 0xFF,
                      std::string("AB\x01"
                                  "C\x7F\xC3"
                                  "D\n    ",
                                  13));
    putTextDescriptor(image, 1, 0xFC, std::string("PANEL\0\0\0\0\0\0\0\0", 13));
    putTextDescriptor(image, 2, 0xFE, "ABCDEFGHIJKLM");
    putTextDescriptor(image, 3, 0x10, "");  // dummy: no text
    const auto info = kj::decodeEdid(image);
    ASSERT_EQ(info.texts.size(), 3u);
    EXPECT_EQ(info.texts[0].text, "AB.C..D");
    EXPECT_EQ(info.texts[1].text, "PANEL");
    EXPECT_EQ(info.texts[2].text, "ABCDEFGHIJKLM");
    EXPECT_FALSE(info.preferred.has_value());
    const auto lines = kj::describeEdid(info);
    EXPECT_TRUE(hasLine(lines, "Text (serial): AB.C..D"));
    EXPECT_TRUE(hasLine(lines, "Text (product name): PANEL"));
    EXPECT_TRUE(hasLine(lines, "Text (data string): ABCDEFGHIJKLM"));
    EXPECT_TRUE(hasLine(lines, "Preferred mode: none"));
}

// A panel's data strings: its maker, then its part number. A serial number of
// zero is none, and is left out.
TEST(EdidDecode, PanelPartNumberIsNamedAndAZeroSerialLeftOut) {
    Bytes image = sample("AUO103C_22F8D0D16BC6");
    auto lines = kj::describeEdid(kj::decodeEdid(image));
    EXPECT_TRUE(hasLine(lines, "Text (data string): AUO"));
    EXPECT_TRUE(hasLine(lines, "Panel part number: B140XW01 V0"));
    EXPECT_FALSE(anyLineContains(lines, "Serial number"));

    image[12] = 0xD2;  // 1234, little-endian
    image[13] = 0x04;
    lines = kj::describeEdid(kj::decodeEdid(image));
    EXPECT_TRUE(hasLine(lines, "Serial number: 1234"));
}

TEST(EdidDecode, DateLineFollowsTheWeekByte) {
    Bytes image = sample(kPlain);
    const auto madeIn = [&](uint8_t week, uint8_t year) {
        image[16] = week, image[17] = year;
        const auto lines = kj::describeEdid(kj::decodeEdid(image));
        return lines[2];  // the sample has no serial number, so no line for it
    };
    EXPECT_EQ(madeIn(12, 20), "Made in: week 12 of 2010");
    EXPECT_EQ(madeIn(0, 26), "Made in: 2016");
    EXPECT_EQ(madeIn(0xFF, 26), "Model year: 2016");
}

TEST(EdidDecode, InputLineFollowsVersionAndInputByte) {
    Bytes image = sample(kPlain);
    const auto input = [&](uint8_t revision, uint8_t byte20) {
        image[19] = revision, image[20] = byte20;
        return kj::describeEdid(kj::decodeEdid(image))[4];
    };
    EXPECT_EQ(input(3, 0x80), "Input: digital");
    EXPECT_EQ(input(3, 0x0E), "Input: analog");
    EXPECT_EQ(input(4, 0x0E), "Input: analog");
    EXPECT_EQ(input(4, 0x80), "Input: digital, colour depth undefined, interface undefined");
    EXPECT_EQ(input(4, 0xA2), "Input: digital, 8 bits per colour, HDMI-a");
    EXPECT_EQ(input(4, 0xE1), "Input: digital, 16 bits per colour, DVI");
    EXPECT_EQ(input(4, 0xF9), "Input: digital, colour depth undefined, reserved interface");
}

TEST(EdidDecode, MissingScreenSizeIsSaid) {
    Bytes image = sample(kPlain);
    image[21] = 0;
    EXPECT_TRUE(hasLine(kj::describeEdid(kj::decodeEdid(image)), "Screen size: not given"));
}

}  // namespace

// 1920x1080i at 50 Hz: each field is half a line longer than its stored total.
TEST(EdidTiming, AnInterlacedModeCountsTheHalfLine) {
    kj::EdidTiming t;
    t.pixelClockKHz = 74250;
    t.hActive = 1920;
    t.hBlank = 720;
    t.vActive = 540;
    t.vBlank = 22;
    t.interlaced = true;
    EXPECT_NEAR(t.refreshHz(), 50.000, 1e-9);
    t.interlaced = false;
    EXPECT_NEAR(t.refreshHz(), 74250e3 / (2640.0 * 562), 1e-9);
}
