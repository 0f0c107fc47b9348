#include <gtest/gtest.h>

#include <array>

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
