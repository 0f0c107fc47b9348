#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "raw_client.h"
#include "sim/kb90xx_chip.h"

namespace kjsim::test {
namespace {

constexpr size_t kBlock = kKbBlockSize;

class SimKb90xx : public ::testing::Test {
protected:
    SimKb90xx() : bench_(makeBench({})), client_(makeSimBridge(bench_)) {}

    Kb90xxChip& chip() { return bench_.chip<kjsim::Kb90xxChip>(); }

    Bytes readWholeFlash() {
        Bytes image;
        client_.send('R');
        for (size_t block = 0; block < kKbBlockCount; ++block) {
            const Bytes data = client_.receive(kBlock);
            EXPECT_EQ(data.size(), kBlock) << "block " << block + 1;
            image.insert(image.end(), data.begin(), data.end());
            if (block + 1 < kKbBlockCount) client_.send('N');
        }
        client_.send('X');
        return image;
    }

    // Sends `blocks` blocks of `image` the way a write stream does.
    void writeBlocks(const Bytes& image, size_t blocks) {
        client_.send('W');
        for (size_t block = 0; block < blocks; ++block) {
            ASSERT_EQ(client_.receive(1).size(), 1u) << "request for block " << block + 1;
            const auto first = image.begin() + static_cast<std::ptrdiff_t>(block * kBlock);
            client_.send(Bytes(first, first + kBlock));
            ASSERT_EQ(client_.receive(1).size(), 1u) << "acknowledge of block " << block + 1;
            if (block + 1 < blocks) client_.send('N');
        }
        client_.send('X');
    }

    struct Checksums {
        size_t marks = 0;
        size_t noise = 0;
        uint16_t sum = 0;
        uint16_t crc = 0;
    };
    // Counts marks the way the PC does: other bytes before the 512th do not count.
    Checksums askChecksums() {
        Checksums c;
        client_.send('S');
        while (c.marks < kKbBlockCount) {
            const Bytes b = client_.receive(1);
            if (b.size() != 1) {
                ADD_FAILURE() << "marks stopped at " << c.marks;
                return c;
            }
            (b[0] == kKbProgressMark ? c.marks : c.noise)++;
        }
        const Bytes v = client_.receive(4);
        EXPECT_EQ(v.size(), 4u);
        if (v.size() == 4) {
            c.sum = static_cast<uint16_t>(v[0] | v[1] << 8);
            c.crc = static_cast<uint16_t>(v[2] | v[3] << 8);
        }
        return c;
    }

    static Bytes randomImage(unsigned seed) {
        std::mt19937 rng(seed);
        Bytes image(kKbFlashSize);
        for (auto& b : image) b = static_cast<uint8_t>(rng());
        return image;
    }

    Bench bench_;
    RawClient client_;
};

TEST(SimKb90xxChecksum, Crc16ArcMatchesTheCheckValue) {
    const std::string digits = "123456789";
    EXPECT_EQ(crc16Arc(bytesOf(digits)), 0xBB3D);
    EXPECT_EQ(crc16Arc(Bytes{}), 0x0000);
    // Running the CRC in two parts gives the same value as in one.
    EXPECT_EQ(crc16Arc(bytesOf("6789"), crc16Arc(bytesOf("12345"))), 0xBB3D);
    EXPECT_EQ(byteSum16(Bytes(300, 0xFF)), static_cast<uint16_t>(300 * 0xFF));
    EXPECT_EQ(byteSum16(Bytes(kKbFlashSize, 0xFF)), static_cast<uint16_t>((kKbFlashSize * 0xFF) & 0xFFFF));
}

TEST_F(SimKb90xx, AnswersTheHandshakeAndTheDebugVersion) {
    client_.send('B');
    EXPECT_EQ(client_.receiveText(3), "V41");
    client_.send('V');
    EXPECT_EQ(client_.receive(1), Bytes{0x23});
    chip().setVersionId(0x11);
    client_.send('V');
    EXPECT_EQ(client_.receive(1), Bytes{0x11});
    EXPECT_EQ(client_.queuedAfterQuietWait(), 0u);
}

TEST_F(SimKb90xx, ReadStreamDeliversTheWholeFlashBlockByBlock) {
    const Bytes image = readWholeFlash();
    EXPECT_EQ(image, chip().flash());
    EXPECT_EQ(image, Kb90xxChip::patternImage());
    // A block-order mistake must be visible: no two neighbouring blocks alike.
    for (size_t b = 1; b < kKbBlockCount; ++b)
        EXPECT_FALSE(
            std::equal(image.begin() + (b - 1) * kBlock, image.begin() + b * kBlock, image.begin() + b * kBlock))
            << "blocks " << b << " and " << b + 1;
    EXPECT_EQ(client_.queuedAfterQuietWait(), 0u);
}

TEST_F(SimKb90xx, NextPastTheLastBlockGetsNoAnswer) {
    readWholeFlash();
    client_.send('R');
    ASSERT_EQ(client_.receive(kBlock).size(), kBlock);
    for (size_t b = 1; b < kKbBlockCount; ++b) {
        client_.send('N');
        ASSERT_EQ(client_.receive(kBlock).size(), kBlock);
    }
    client_.send('N');
    EXPECT_EQ(client_.queuedAfterQuietWait(), 0u);
}

TEST_F(SimKb90xx, UnexpectedByteLeavesTheStreamToTheMainLoop) {
    client_.send('R');
    ASSERT_EQ(client_.receive(kBlock).size(), kBlock);
    client_.send('B');
    EXPECT_EQ(client_.receiveText(3), "V41");
    client_.send('V');
    EXPECT_EQ(client_.receive(1), Bytes{0x23});
}

TEST_F(SimKb90xx, FullWriteProgramsTheFlashAndChecksumsMatch) {
    const Bytes image = randomImage(7);
    writeBlocks(image, kKbBlockCount);
    const Checksums c = askChecksums();
    EXPECT_EQ(c.marks, kKbBlockCount);
    EXPECT_EQ(c.noise, 0u);
    EXPECT_EQ(c.sum, byteSum16(image));
    EXPECT_EQ(c.crc, crc16Arc(image));
    EXPECT_EQ(chip().flash(), image);
    EXPECT_EQ(chip().blocksWritten(), kKbBlockCount);
    EXPECT_EQ(client_.queuedAfterQuietWait(), 0u);
    // And a read gives the written image back.
    EXPECT_EQ(readWholeFlash(), image);
}

TEST_F(SimKb90xx, ShortWriteLeavesTheRestErased) {
    const Bytes image = randomImage(3);
    writeBlocks(image, 4);
    EXPECT_EQ(chip().blocksWritten(), 4u);
    const Bytes flash = chip().flash();
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 4 * kBlock, flash.begin()));
    EXPECT_TRUE(std::all_of(flash.begin() + 4 * kBlock, flash.end(), [](uint8_t b) { return b == 0xFF; }));
}

TEST_F(SimKb90xx, CorruptedByteMakesTheChecksumsDiffer) {
    const Bytes image = randomImage(11);
    chip().corruptWriteAt = 70000;
    writeBlocks(image, kKbBlockCount);
    const Checksums c = askChecksums();
    EXPECT_EQ(chip().flash()[70000], static_cast<uint8_t>(~image[70000]));
    EXPECT_NE(c.sum, byteSum16(image));
    EXPECT_NE(c.crc, crc16Arc(image));
    EXPECT_EQ(c.crc, crc16Arc(chip().flash()));
}

TEST_F(SimKb90xx, NoiseAmongTheMarksIsNotAMark) {
    chip().noiseBeforeChecksum = 9;
    const Checksums c = askChecksums();
    EXPECT_EQ(c.marks, kKbBlockCount);
    EXPECT_EQ(c.noise, 9u);
    EXPECT_EQ(c.sum, byteSum16(chip().flash()));
    EXPECT_EQ(c.crc, crc16Arc(chip().flash()));
    EXPECT_EQ(client_.queuedAfterQuietWait(), 0u);
}

TEST_F(SimKb90xx, ReadGoesSilentAtTheChosenBlock) {
    chip().silentAtBlock = 3;
    client_.send('R');
    EXPECT_EQ(client_.receive(kBlock).size(), kBlock);
    client_.send('N');
    EXPECT_EQ(client_.receive(kBlock).size(), kBlock);
    client_.send('N');
    EXPECT_EQ(client_.queuedAfterQuietWait(), 0u);
    client_.send('N');
    client_.send('X');
    client_.send('B');
    EXPECT_EQ(client_.receiveText(3), "V41");
}

TEST_F(SimKb90xx, WriteGoesSilentAtTheChosenBlock) {
    chip().silentAtBlock = 2;
    const Bytes image = randomImage(5);
    client_.send('W');
    ASSERT_EQ(client_.receive(1).size(), 1u);
    client_.send(Bytes(image.begin(), image.begin() + kBlock));
    ASSERT_EQ(client_.receive(1).size(), 1u);
    client_.send('N');
    EXPECT_EQ(client_.queuedAfterQuietWait(), 0u);
    EXPECT_EQ(chip().blocksWritten(), 1u);
}

TEST_F(SimKb90xx, ExtraBytesFollowTheChosenReadBlock) {
    chip().extraBytes = 5;
    client_.send('R');
    uint32_t queued = 0;
    client_.device().waitForRx(kBlock + 5, kHangBound, queued);
    EXPECT_EQ(queued, kBlock + 5);
    const Bytes data = client_.receive(kBlock);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), chip().flash().begin()));
}

}  // namespace
}  // namespace kjsim::test
