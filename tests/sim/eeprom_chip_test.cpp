#include <gtest/gtest.h>

#include <numeric>

#include "raw_client.h"
#include "sim/eeprom_chip.h"

namespace kjsim::test {
namespace {

class SimEeprom : public ::testing::Test {
protected:
    SimEeprom() : bench_(makeBench({})), client_(makeSimBridge(bench_)) {}

    EepromChip& chip() { return bench_.chip<kjsim::EepromChip>(); }

    Bytes read() {
        client_.send("Er");
        return client_.receive(kEepromSize + 2);
    }
    // The reply to the image; empty when the ready byte never came.
    std::string write(const Bytes& image) {
        client_.send("Ew");
        if (client_.receive(1).size() != 1) return {};
        client_.send(image);
        return client_.receiveText(2);
    }
    static Bytes withStatus(Bytes image, const std::string& status) {
        image.insert(image.end(), status.begin(), status.end());
        return image;
    }
    static Bytes ramp() {
        Bytes image(kEepromSize);
        std::iota(image.begin(), image.end(), uint8_t{0});
        return image;
    }

    Bench bench_;
    RawClient client_;
};

TEST(SimEepromEdid, BuiltInImageIsAValidEdidBaseBlock) {
    const Bytes edid = builtInPanelEdid();
    ASSERT_EQ(edid.size(), kEepromSize);
    EXPECT_EQ(Bytes(edid.begin(), edid.begin() + 8), (Bytes{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}));
    EXPECT_EQ(std::accumulate(edid.begin(), edid.begin() + 128, 0u) % 256, 0u);
    EXPECT_EQ(edid[18], 1);  // version 1.4
    EXPECT_EQ(edid[19], 4);
    EXPECT_EQ(edid[126], 0);  // no extension block follows
    EXPECT_TRUE(std::all_of(edid.begin() + 128, edid.end(), [](uint8_t b) { return b == 0xFF; }));
}

TEST_F(SimEeprom, ReadGivesTheContentsAndOk) {
    EXPECT_EQ(read(), withStatus(builtInPanelEdid(), "OK"));
    EXPECT_EQ(client_.queuedAfterQuietWait(), 0u);
}

TEST_F(SimEeprom, ReadInPiecesArrivesWhole) {
    chip().readPieces = {62, 62, 134};
    chip().pieceGap = kj::Millis(1);
    EXPECT_EQ(read(), withStatus(builtInPanelEdid(), "OK"));
}

TEST_F(SimEeprom, WriteStoresTheImage) {
    EXPECT_EQ(write(ramp()), "OK");
    EXPECT_EQ(chip().flash(), ramp());
    EXPECT_EQ(read(), withStatus(ramp(), "OK"));
}

TEST_F(SimEeprom, WriteProtectedKeepsItsContents) {
    chip().writeProtected = true;
    EXPECT_EQ(write(ramp()), "ER");
    EXPECT_EQ(chip().flash(), builtInPanelEdid());
    EXPECT_EQ(read(), withStatus(builtInPanelEdid(), "OK"));
}

TEST_F(SimEeprom, AbsentEepromAnswersER) {
    chip().notResponding = true;
    EXPECT_EQ(read(), withStatus(Bytes(kEepromSize, 0xFF), "ER"));
    EXPECT_EQ(write(ramp()), "ER");
    EXPECT_EQ(chip().flash(), builtInPanelEdid());
}

TEST_F(SimEeprom, SilentEepromSaysNothingButTheProgrammerStillAnswers) {
    chip().silent = true;
    client_.send("Er");
    EXPECT_EQ(client_.queuedAfterQuietWait(), 0u);
    client_.send('B');
    EXPECT_EQ(client_.receiveText(3), "V41");
}

}  // namespace
}  // namespace kjsim::test
