#include <gtest/gtest.h>

#include "raw_client.h"
#include "sim/keyboard_chip.h"

namespace kjsim::test {
namespace {

const Bytes kReportA = {'>', 1, 2, 5, '>', 3, 4, '&'};
const Bytes kReportB = {'>', 7, 20, '&'};
const Bytes kNothing = {'&'};

class SimKeyboard : public ::testing::Test {
protected:
    SimKeyboard() : bench_(makeBench({})), client_(makeSimBridge(bench_)) {}

    KeyboardChip& chip() { return bench_.chip<kjsim::KeyboardChip>(); }

    Bench bench_;
    RawClient client_;
};

TEST_F(SimKeyboard, AnswersReportsInScriptOrderThenNothing) {
    chip().setScript(KeyboardChip::reports({kReportA, kNothing, kReportB}));
    client_.send('u');
    EXPECT_EQ(client_.receive(kReportA.size()), kReportA);
    client_.send('U');
    EXPECT_EQ(client_.receive(1), kNothing);
    client_.send('U');
    EXPECT_EQ(client_.receive(kReportB.size()), kReportB);
    client_.send('U');
    EXPECT_EQ(client_.receive(1), kNothing);
    EXPECT_EQ(client_.queuedAfterQuietWait(), 0u);
    EXPECT_EQ(chip().requestLog(), "uUUU");
    EXPECT_EQ(chip().requests(), 4u);
}

TEST_F(SimKeyboard, ReportInPiecesArrivesWhole) {
    chip().setScript({{kReportA, {7}}});
    chip().pieceGap = kj::Millis(1);
    client_.send('u');
    EXPECT_EQ(client_.receive(kReportA.size()), kReportA);
}

TEST_F(SimKeyboard, SoundBytesBelongToTheScanAndEndBytesToTheProgrammer) {
    chip().setScript(KeyboardChip::reports({kReportA, kReportA}));
    client_.send('u');
    ASSERT_EQ(client_.receive(kReportA.size()), kReportA);
    client_.send('I');
    client_.send('U');
    ASSERT_EQ(client_.receive(kReportA.size()), kReportA);
    client_.send('I');
    client_.send('Q');
    client_.send('I');
    client_.send('B');  // a reply to wait on, so that every byte before it was handled
    ASSERT_EQ(client_.receiveText(3), "V41");
    EXPECT_EQ(chip().beeps(), 2u);
    EXPECT_TRUE(chip().quitReceived());
    EXPECT_FALSE(chip().scanning());
    EXPECT_EQ(bench_.programmer->endBytes(), "I");
}

TEST_F(SimKeyboard, DemoScriptTogglesCells) {
    const auto demo = KeyboardChip::demoScript();
    size_t pressed = 0;
    for (const auto& report : demo) {
        ASSERT_FALSE(report.bytes.empty());
        EXPECT_EQ(report.bytes.back(), '&');
        if (report.bytes.size() > 1) ++pressed;
    }
    EXPECT_GE(pressed, 2u);
    // The bench's keyboard keeps answering the demo forever.
    client_.send('u');
    for (size_t i = 0; i < demo.size() * 2; ++i) {
        const Bytes& expected = demo[i % demo.size()].bytes;
        EXPECT_EQ(client_.receive(expected.size()), expected) << "request " << i + 1;
        client_.send('U');
    }
}

}  // namespace
}  // namespace kjsim::test
