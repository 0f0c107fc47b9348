// The motherboard connection base: where it is looked for, how its bytes
// become chooser entries, how a line's values are read, and the KB90xx help line.
#include "kb90xx/cable_help.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "kb90xx_fixture.h"
#include "sim/kb90xx_chip.h"

namespace kjtest {
namespace {

using kj::CableHelp;
using Kind = kj::CableHelp::Kind;

const std::string kBoard = "Compal LA-1234 KSO3=5 KSI4=12 KSI7=14 KSI6=15 KSI5=16";
const std::string kConnect = "Please connect GND and:  A5 B12 C14 D15 E16";
const std::string kReversed = "Please connect GND and:  A20 B13 C11 D10 E9";

CableHelp help(const std::string& line, int width = 24, bool straight = true) {
    return kj::kb90xxCableHelp(line, width, straight);
}

void expectMessage(const CableHelp& h, const std::string& text) {
    EXPECT_EQ(h.kind, text.starts_with("Please connect") ? Kind::Connect : Kind::Message);
    EXPECT_EQ(h.text, text);
}

// ---- the help line ----

TEST(Kb90xxCableHelp, NamesTheContactOfEachProgrammerLine) {
    expectMessage(help(kBoard), kConnect);
    expectMessage(help(kBoard, 24, false), kReversed);
    // A cable as wide as the highest pin is wide enough.
    expectMessage(help(kBoard, 18), kConnect);
    expectMessage(help(kBoard, 16), kConnect);
    expectMessage(help(kBoard, 16, false), "Please connect GND and:  A12 B5 C3 D2 E1");
}

TEST(Kb90xxCableHelp, NarrowCableIsRefused) {
    expectMessage(help("MB KSO3=5 KSI4=12 KSI7=14 KSI6=15 KSI5=20", 18), "Please select big pins FFC!");
    expectMessage(help(kBoard, 15), "Please select big pins FFC!");
    expectMessage(help(kBoard, 15, false), "Please select big pins FFC!");
}

TEST(Kb90xxCableHelp, KeysStandAnywhereInAnyOrder) {
    expectMessage(help("KSI5=16 KSI6=15 KSI7=14 KSI4=12 KSO3=5 Compal LA-1234"), kConnect);
    expectMessage(help("KSI7=14,KSO3=5 name KSI4=12 KSI5=16 x KSI6=15"), kConnect);
    // Only the first occurrence of a key counts.
    expectMessage(help(kBoard + " KSO3=7"), kConnect);
}

TEST(Kb90xxCableHelp, ValueIsOneOrTwoCharacters) {
    // A third digit is ignored.
    expectMessage(help("MB KSO3=123 KSI4=12 KSI7=14 KSI6=15 KSI5=16"), "Please connect GND and:  A12 B12 C14 D15 E16");
    // A one-digit value at the very end of the line.
    expectMessage(help("MB KSO3=5 KSI4=12 KSI7=14 KSI6=15 KSI5=9"), "Please connect GND and:  A5 B12 C14 D15 E9");
    EXPECT_EQ(kj::baseValueText("KSO3=5", "KSO3="), "5");
    EXPECT_EQ(kj::baseValueText("KSO3=5 x", "KSO3="), "5");
    EXPECT_EQ(kj::baseValueText("KSO3=567", "KSO3="), "56");
    EXPECT_EQ(kj::baseValueText("KSO3=", "KSO3="), "");
    EXPECT_EQ(kj::baseValueText("KSO3 =5", "KSO3="), std::nullopt);
}

TEST(Kb90xxCableHelp, MissingKeyIsAFormatError) {
    expectMessage(help(""), "Error data format!");
    expectMessage(help("MB KSO3=5 KSI4=12 KSI7=14 KSI5=16"), "Error data format!");
    // Keys are case-sensitive.
    expectMessage(help("MB kso3=5 KSI4=12 KSI7=14 KSI6=15 KSI5=16"), "Error data format!");
    // The first missing key in table order stops the parse before a later bad value is read.
    expectMessage(help("MB KSO3=5 KSI7=14 KSI6=x KSI5=16"), "Error data format!");
}

TEST(Kb90xxCableHelp, MalformedValueLeavesTheLabelWithAReport) {
    const auto expectReport = [](const std::string& line, const std::string& report) {
        const CableHelp h = help(line);
        EXPECT_EQ(h.kind, Kind::ValueError) << line;
        EXPECT_EQ(h.text, report) << line;
    };
    expectReport("MB KSO3=5,KSI4=12 KSI7=14 KSI6=15 KSI5=16", "'5,' is not a valid pin number (KSO3=)");
    expectReport("MB KSO3=5 KSI4=x KSI7=14 KSI6=15 KSI5=16", "'x' is not a valid pin number (KSI4=)");
    expectReport("MB KSO3=5 KSI4=12 KSI7=14 KSI6=15 KSI5=", "'' is not a valid pin number (KSI5=)");
    expectReport("MB KSO3=-1 KSI4=12 KSI7=14 KSI6=15 KSI5=16", "'-1' is not a valid pin number (KSO3=)");
    // Pins are counted from 1.
    expectReport("MB KSO3=0 KSI4=12 KSI7=14 KSI6=15 KSI5=16", "'0' is not a valid pin number (KSO3=)");
    // A Cyrillic letter is one character of the value, however many bytes it takes.
    expectReport("MB KSO3=5ф KSI4=12 KSI7=14 KSI6=15 KSI5=16", "'5ф' is not a valid pin number (KSO3=)");
}

TEST(Kb90xxCableHelp, CableWidthIsTheChooserTextsFirstTwoCharacters) {
    for (auto item : kj::kKb90xxCableWidths) {
        const auto width = kj::cableWidthOf(item);
        ASSERT_TRUE(width.has_value()) << item;
        EXPECT_EQ(std::to_string(*width) + " pin", item);
    }
    EXPECT_EQ(kj::cableWidthOf("Step 2 -> Select FFC cable you used"), std::nullopt);
}

// ---- lines of a base, for any key table ----

TEST(Kb90xxBaseLine, AnotherWindowsKeyTableAndRule) {
    constexpr kj::BaseKey kKeys[] = {{"PD0=", "PD0"}, {"BUSY=", "BUSY"}, {"STB=", "STB#"}};
    constexpr kj::ValueRule kPins{1, 32};
    auto parsed = kj::parseBaseLine("MB STB=3 PD0=7 BUSY=17", kKeys, kPins);
    EXPECT_EQ(parsed.status, kj::BaseLine::Status::Ok);
    EXPECT_EQ(parsed.values, (std::vector<int>{7, 17, 3}));

    // The parse stops at the first failing key and keeps what it read before it.
    parsed = kj::parseBaseLine("MB PD0=7 BUSY=33 STB=3", kKeys, kPins);
    EXPECT_EQ(parsed.status, kj::BaseLine::Status::OutOfRange);
    EXPECT_EQ(parsed.failedKey, 1u);
    EXPECT_EQ(parsed.valueText, "33");
    EXPECT_EQ(parsed.values, (std::vector<int>{7}));

    parsed = kj::parseBaseLine("MB PD0=0 BUSY=3", kKeys, kPins);
    EXPECT_EQ(parsed.status, kj::BaseLine::Status::OutOfRange);
    EXPECT_EQ(parsed.failedKey, 0u);
    parsed = kj::parseBaseLine("MB PD0=7 BUSY=3", kKeys, kPins);
    EXPECT_EQ(parsed.status, kj::BaseLine::Status::MissingKey);
    EXPECT_EQ(parsed.failedKey, 2u);
    parsed = kj::parseBaseLine("MB PD0=7, BUSY=3", kKeys, kPins);
    EXPECT_EQ(parsed.status, kj::BaseLine::Status::NotANumber);
    EXPECT_EQ(parsed.valueText, "7,");
}

TEST(Kb90xxBaseLine, MirroringIsItsOwnInverse) {
    EXPECT_EQ(kj::mirrorPin(1, 30), 30);
    EXPECT_EQ(kj::mirrorPin(30, 30), 1);
    EXPECT_EQ(kj::mirrorPin(15, 30), 16);
    for (int pin = 1; pin <= 32; ++pin) EXPECT_EQ(kj::mirrorPin(kj::mirrorPin(pin, 32), 32), pin);
}

// ---- the base file ----

TEST(Kb90xxBaseFile, EveryLineFeedMakesAnEntry) {
    EXPECT_EQ(kj::splitBaseLines("one\ntwo\n"), (Lines{"one", "two"}));
    // An empty line is an empty entry; text after the last LF is not listed.
    EXPECT_EQ(kj::splitBaseLines("one\n\nthree\nlast"), (Lines{"one", "", "three"}));
    // CR is dropped wherever it stands.
    EXPECT_EQ(kj::splitBaseLines("one\r\ntwo\r\n"), (Lines{"one", "two"}));
    EXPECT_EQ(kj::splitBaseLines("o\rne\n\r\n"), (Lines{"one", ""}));
    EXPECT_TRUE(kj::splitBaseLines("no line feed").empty());
    EXPECT_TRUE(kj::splitBaseLines("").empty());
}

TEST(Kb90xxBaseFile, Windows1251AndUtf8BothShowCyrillic) {
    // "Плата" in Windows-1251, and a byte that is no valid UTF-8 anywhere.
    EXPECT_EQ(kj::decodeBaseText("\xCF\xEB\xE0\xF2\xE0 KSO3=5"), "Плата KSO3=5");
    EXPECT_EQ(kj::decodeBaseText("\xB8\xA8\x96\xB9"), "ёЁ–№");
    // Valid UTF-8 is kept as it is, without a byte-order mark.
    EXPECT_EQ(kj::decodeBaseText("Плата KSO3=5"), "Плата KSO3=5");
    EXPECT_EQ(kj::decodeBaseText("\xEF\xBB\xBFПлата"), "Плата");
    EXPECT_EQ(kj::decodeBaseText("plain ASCII\n"), "plain ASCII\n");
    // One stray byte makes the whole base Windows-1251.
    EXPECT_EQ(kj::decodeBaseText("Плата \xCF"), "РџР»Р°С‚Р° П");
    // Overlong forms and surrogates are not UTF-8.
    EXPECT_EQ(kj::decodeBaseText("\xC0\xAF"), "АЇ");
    EXPECT_EQ(kj::decodeBaseText("\xED\xA0\x80"), "н\u00A0Ђ");
}

TEST(Kb90xxBaseFile, LoadsACyrillicBaseWithCrLf) {
    ScratchDir dir;
    const std::string path = dir.file("MB connection KB901X.txt");
    const std::string bytes = "\xCF\xEB\xE0\xF2\xE0 KSO3=5 KSI4=12 KSI7=14 KSI6=15 KSI5=16\r\n\r\nunlisted KSO3=1";
    writeFile(path, Bytes(bytes.begin(), bytes.end()));
    const auto base = kj::loadBase(path);
    ASSERT_TRUE(base.has_value());
    EXPECT_EQ(*base, (Lines{"Плата KSO3=5 KSI4=12 KSI7=14 KSI6=15 KSI5=16", ""}));
    expectMessage(help((*base)[0]), kConnect);
    EXPECT_FALSE(kj::loadBase(dir.file("missing.txt")).has_value());
}

#ifdef _WIN32
// The user's own folder first; the root of C:, where the messages point, when the base is not there.
TEST(Kb90xxBasePath, IsInTheUsersAppDataFolderOrElseInTheRootOfC) {
    ScratchDir dir;
    const std::string saved = std::getenv("APPDATA") ? std::getenv("APPDATA") : "";
    ::_putenv_s("APPDATA", dir.path().string().c_str());
    EXPECT_EQ(kj::baseFilePath(kj::kKb90xxBaseFile), fs::path("C:\\MB connection KB901X.txt"));
    const fs::path own = dir.path() / "korvel-jig" / "MB connection KB901X.txt";
    fs::create_directories(own.parent_path());
    std::ofstream(own) << "MB KSO0=1\n";
    EXPECT_EQ(kj::baseFilePath(kj::kKb90xxBaseFile), own);
    EXPECT_EQ(kj::baseFilePath("MB connection IT85XX.txt"), fs::path("C:\\MB connection IT85XX.txt"));
    ::_putenv_s("APPDATA", saved.c_str());
}
#else
class Kb90xxBasePath : public ::testing::Test {
protected:
    Kb90xxBasePath() {
        for (const char* name : {"HOME", "XDG_DATA_HOME"}) {
            const char* value = std::getenv(name);
            saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
    }
    ~Kb90xxBasePath() override {
        for (const auto& [name, value] : saved_) value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    }
    std::vector<std::pair<const char*, std::optional<std::string> > > saved_;
};

TEST_F(Kb90xxBasePath, IsInTheUsersDataFolder) {
    ::setenv("HOME", "/home/tech", 1);
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(kj::baseFilePath(kj::kKb90xxBaseFile),
              fs::path("/home/tech/.local/share/korvel-jig/MB connection KB901X.txt"));
    ::setenv("XDG_DATA_HOME", "/data/tech", 1);
    EXPECT_EQ(kj::baseFilePath(kj::kKb90xxBaseFile), fs::path("/data/tech/korvel-jig/MB connection KB901X.txt"));
    // A relative XDG_DATA_HOME is not valid and is ignored.
    ::setenv("XDG_DATA_HOME", "relative/data", 1);
    EXPECT_EQ(kj::baseFilePath("MB connection IT85XX.txt"),
              fs::path("/home/tech/.local/share/korvel-jig/MB connection IT85XX.txt"));
}
#endif

}  // namespace
}  // namespace kjtest
