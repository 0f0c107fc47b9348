#include <gtest/gtest.h>

#include <array>

#include "common/digest.h"
#include "common/text.h"

using namespace kj;

TEST(Text, ByteToTextKeepsDigitsLettersDotAndUnderscoreOnly) {
    const std::array<uint8_t, 12> bytes{'V', '4', '1', '.', '_', 'z', ' ', 0x00, 0x7F, 0x80, 0xFF, '-'};
    EXPECT_EQ(bytesToText(bytes), "V41._z      ");
}

TEST(Text, VersionReplyWithLineEndGetsTwoTrailingBlanks) {
    const std::array<uint8_t, 5> reply{'V', '4', '1', '\r', '\n'};
    EXPECT_EQ(bytesToText(reply), "V41  ");
}

TEST(Text, HexDumpRowsAreColonHexPairsBlankAndText) {
    std::array<uint8_t, 256> block{};
    const uint8_t row0[] = {0x41, 0x42, 0x43, 0x5F, 0x2E, 0x78, 0x79, 0x7A};
    std::copy(std::begin(row0), std::end(row0), block.begin());
    const uint8_t row1[] = {0x20, 0x00, 0x7F, 0x80, '.', '_', 0xFF, '0'};
    std::copy(std::begin(row1), std::end(row1), block.begin() + 16);

    const auto lines = hexDump(block);
    ASSERT_EQ(lines.size(), 17u);
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1], ": 41 42 43 5F 2E 78 79 7A 00 00 00 00 00 00 00 00 ABC_.xyz........");
    EXPECT_EQ(lines[2], ": 20 00 7F 80 2E 5F FF 30 00 00 00 00 00 00 00 00 ....._.0........");
    for (size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(lines[i].size(), 66u) << i;
}

TEST(Text, HexUpperPadsToTheGivenDigitsOnly) {
    EXPECT_EQ(hexUpper(0x1234, 4), "1234");
    EXPECT_EQ(hexUpper(0xab, 4), "00AB");
    EXPECT_EQ(hexUpper(0x21224, 2), "21224");
    EXPECT_EQ(hexUpper(0, 2), "00");
}

TEST(Text, TimeStampLineHasItsPrefixAndAClock) {
    for (auto [language, prefix] : {std::pair{Language::English, std::string(kTimeStampEnglish)},
                                    std::pair{Language::Russian, std::string(kTimeStampRussian)}}) {
        const auto line = timeStampLine(language);
        ASSERT_EQ(line.rfind(prefix, 0), 0u);
        const auto clock = line.substr(prefix.size());
        ASSERT_EQ(clock.size(), 8u);
        EXPECT_EQ(clock[2], ':');
        EXPECT_EQ(clock[5], ':');
    }
}

// Published check values: a technician compares them with other tools' output.
TEST(Digest, MatchesTheStandardCheckValuesAcrossBlockBoundaries) {
    const std::string check = "123456789";
    const auto bytes = [](const std::string& s) {
        return std::span(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    };
    EXPECT_EQ(crc32Hex(bytes(check)), "cbf43926");
    EXPECT_EQ(sha256Hex(bytes("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex(bytes("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the length no longer fits the first block.
    EXPECT_EQ(sha256Hex(bytes("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    const std::string million(1000000, 'a');
    EXPECT_EQ(sha256Hex(bytes(million)), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}
