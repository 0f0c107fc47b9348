// The scan against the simulated programmer: the bytes on the wire, the cells,
// the log, and how every way of ending runs the end steps.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <regex>

#include "keyboard_fixture.h"
#include "support/recording_frontend.h"

using namespace kj;
using namespace kjtest;
using namespace std::chrono_literals;

namespace {

class KeyboardScan : public ::testing::Test {
protected:
    KeyboardScan() {
        tester.tickInterval = 60s;  // no tick unless the test gives one
    }
    ~KeyboardScan() override {
        tester.requestStop();
        tester.operation().waitIdle(5s);
    }

    CellColour colour(int a, int b) const { return tester.colour({a, b}); }
    int notAqua() const {
        int n = 0;
        for (int a = 1; a < kKeyboardLines; ++a) {
            for (int b = a + 1; b <= kKeyboardLines; ++b) n += colour(a, b) != CellColour::Aqua;
        }
        return n;
    }
    void expectExampleCells(CellColour colour) {
        EXPECT_EQ(this->colour(1, 2), colour);
        EXPECT_EQ(this->colour(1, 5), colour);
        EXPECT_EQ(this->colour(3, 4), colour);
        EXPECT_EQ(notAqua(), 3);
    }
    // The cells the scan painted, as the command line prints them.
    std::vector<std::string> painted() const {
        std::vector<std::string> cells;
        for (const auto& e : ui.shown<keyboard::CellEvent>())
            cells.push_back(pairText(e.pair) + " " + colourName(e.colour));
        return cells;
    }
    // START, and the wait until the scan runs (its clock is on) or has ended.
    bool startScan() {
        return tester.startScan() &&
               waitFor([&] { return tester.pacing() || tester.operation().waitIdle(kj::Millis{0}); });
    }
    bool stopAndWait() {
        tester.requestStop();
        return tester.operation().waitIdle(5s);
    }
    // What every end leaves behind: 'Q' last, the link closed, the clock off,
    // the buttons back, the name "NONE" and no stop request left over.
    void expectEnded() {
        EXPECT_EQ(bench.written().back(), 'Q');
        EXPECT_EQ(bench.chip().quits(), 1u);
        EXPECT_FALSE(bench.slot->isOpen());
        EXPECT_FALSE(tester.pacing());
        EXPECT_TRUE(tester.began());
        EXPECT_EQ(ui.events(), (std::vector<std::string>{"started Keyboard", "ended"}));
        EXPECT_TRUE(tester.operation().idle());
        EXPECT_FALSE(tester.stopRequested());
    }

    KeyboardBench bench;
    std::unique_ptr<Bridge> bridge = bench.bridge();
    RecordingFrontend ui;
    KeyboardTester tester{*bridge, ui};
};

// Pairs closed at the first report were closed before anyone could press a
// key: shorts, which stay so however often they are reported again.
TEST_F(KeyboardScan, FirstReportsPairsAreShortsAndEveryReportSoundsOnce) {
    bench.script({kExampleReport, kExampleReport, kExampleReport});

    ASSERT_TRUE(startScan());
    EXPECT_TRUE(tester.operation().name().is(kKeyboardScanning));
    EXPECT_TRUE(tester.pacing());
    ASSERT_TRUE(waitFor([&] { return bench.chip().beeps() == 1; }));
    expectExampleCells(CellColour::Short);

    ASSERT_TRUE(nextReport(tester, bench.chip()));
    ASSERT_TRUE(waitFor([&] { return bench.chip().beeps() == 2; }));
    ASSERT_TRUE(nextReport(tester, bench.chip()));
    ASSERT_TRUE(waitFor([&] { return bench.chip().beeps() == 3; }));
    expectExampleCells(CellColour::Short);

    ASSERT_TRUE(waitFor([&] { return tester.waitingForTick(); }));
    ASSERT_TRUE(stopAndWait());
    EXPECT_EQ(bench.written(), "BuIUIUIQ");
    EXPECT_EQ(bench.chip().requestLog(), "uUU");
    EXPECT_EQ(painted(), (std::vector<std::string>{"1-2 short?", "1-5 short?", "3-4 short?"}));
    EXPECT_EQ(ui.lines(), join({kKeyboardLinkLines, {"Closed pairs: 1-2 short? 1-5 short? 3-4 short?"}}));
    EXPECT_EQ(bench.bench.programmer->endBytes(), "");
    EXPECT_TRUE(tester.lastSucceeded());
    expectEnded();
}

// Nobody ticks: the worker's own clock asks for every report.
TEST_F(KeyboardScan, TheScanPacesItself) {
    tester.tickInterval = 10ms;
    bench.script({kExampleReport, kExampleReport, kExampleReport});

    ASSERT_TRUE(startScan());
    ASSERT_TRUE(waitFor([&] { return bench.chip().beeps() == 3; }));
    expectExampleCells(CellColour::Short);
    ASSERT_TRUE(stopAndWait());
    EXPECT_TRUE(std::regex_match(bench.written(), std::regex("BuIUIUIU*Q"))) << bench.written();
    EXPECT_TRUE(tester.lastSucceeded());
    expectEnded();
}

TEST_F(KeyboardScan, MutedSendsNoSound) {
    tester.setMuted(true);
    bench.script({kNothing, kExampleReport});

    ASSERT_TRUE(startScan());
    ASSERT_TRUE(nextReport(tester, bench.chip()));
    ASSERT_TRUE(waitFor([&] { return painted().size() == 3; }));
    ASSERT_TRUE(waitFor([&] { return tester.waitingForTick(); }));
    ASSERT_TRUE(stopAndWait());

    expectExampleCells(CellColour::Red);
    EXPECT_EQ(bench.written(), "BuUQ");
    EXPECT_EQ(bench.chip().beeps(), 0u);
    expectEnded();
}

// After a first report with nothing closed, each report toggles its pairs
// red, yellow, red.
TEST_F(KeyboardScan, LoneEndChangesNothingThenReportsToggleRedYellowRed) {
    bench.script({kNothing, kExampleReport, kExampleReport, kExampleReport});

    ASSERT_TRUE(startScan());
    ASSERT_TRUE(waitFor([&] { return tester.waitingForTick(); }));
    EXPECT_TRUE(painted().empty());
    EXPECT_EQ(bench.written(), "Bu");

    ASSERT_TRUE(nextReport(tester, bench.chip()));
    ASSERT_TRUE(waitFor([&] { return bench.chip().beeps() == 1; }));
    expectExampleCells(CellColour::Red);
    EXPECT_EQ(bench.written(), "BuUI");
    ASSERT_TRUE(nextReport(tester, bench.chip()));
    ASSERT_TRUE(waitFor([&] { return bench.chip().beeps() == 2; }));
    expectExampleCells(CellColour::Yellow);
    ASSERT_TRUE(nextReport(tester, bench.chip()));
    ASSERT_TRUE(waitFor([&] { return bench.chip().beeps() == 3; }));
    expectExampleCells(CellColour::Red);

    ASSERT_TRUE(waitFor([&] { return tester.waitingForTick(); }));
    ASSERT_TRUE(stopAndWait());
    EXPECT_EQ(bench.written(), "BuUIUIUIQ");
    EXPECT_EQ(painted(), (std::vector<std::string>{"1-2 red", "1-5 red", "3-4 red", "1-2 yellow", "1-5 yellow",
                                                   "3-4 yellow", "1-2 red", "1-5 red", "3-4 red"}));
    std::vector<std::string> listed;
    for (const auto& e : ui.shown<keyboard::PairClosed>()) listed.push_back(e.text);
    EXPECT_EQ(listed, (std::vector<std::string>{"1-2", "1-5", "3-4"}));
    EXPECT_EQ(ui.lines(), join({kKeyboardLinkLines, {"Closed pairs: 1-2 1-5 3-4"}}));
}

TEST_F(KeyboardScan, ReportInPiecesCountsOnceWhole) {
    const Bytes bigger = {'>', 1, 2, 5, 32, '>', 3, 4, '>', 30, 31, 32, '&'};
    bench.chip().setScript({{kExampleReport, {7}},           // the '&' alone
                            {kExampleReport, {1, 1, 1, 1}},  // byte by byte, then the rest
                            {bigger, {5, 5}}});

    ASSERT_TRUE(startScan());
    ASSERT_TRUE(waitFor([&] { return bench.chip().beeps() == 1; }));
    expectExampleCells(CellColour::Short);
    ASSERT_TRUE(nextReport(tester, bench.chip()));
    ASSERT_TRUE(waitFor([&] { return bench.chip().beeps() == 2; }));
    expectExampleCells(CellColour::Short);
    ASSERT_TRUE(nextReport(tester, bench.chip()));
    ASSERT_TRUE(waitFor([&] { return bench.chip().beeps() == 3; }));
    EXPECT_EQ(colour(1, 2), CellColour::Short);
    EXPECT_EQ(colour(1, 32), CellColour::Red);
    EXPECT_EQ(colour(30, 32), CellColour::Red);
    EXPECT_EQ(painted(), (std::vector<std::string>{"1-2 short?", "1-5 short?", "3-4 short?", "1-32 red", "30-31 red",
                                                   "30-32 red"}));
    EXPECT_EQ(bench.written(), "BuIUIUI");
}

TEST_F(KeyboardScan, StopWhileWaitingForTheTickEndsAtOnce) {
    bench.script({kExampleReport});
    ASSERT_TRUE(startScan());
    ASSERT_TRUE(waitFor([&] { return tester.waitingForTick(); }));
    ASSERT_TRUE(stopAndWait());
    EXPECT_EQ(bench.written(), "BuIQ");
    EXPECT_EQ(ui.lines(), join({kKeyboardLinkLines, {"Closed pairs: 1-2 short? 1-5 short? 3-4 short?"}}));
    EXPECT_TRUE(tester.lastSucceeded());
    expectEnded();
}

// A stop does not make a programmer that fell silent look like a good scan.
TEST_F(KeyboardScan, StopWhileAReportIsIncompleteStillReportsTheSilence) {
    tester.link().timeouts.reply = 300ms;
    bench.script({Bytes{'>', 1, 2}});  // never completed
    ASSERT_TRUE(startScan());
    ASSERT_TRUE(waitFor([&] { return bench.chip().requests() == 1; }));
    ASSERT_TRUE(stopAndWait());
    EXPECT_EQ(bench.written(), "BuQ");
    EXPECT_TRUE(painted().empty());
    EXPECT_EQ(ui.lines(),
              join({kKeyboardLinkLines, {"The programmer does not answer (time-out).", "Closed pairs: none"}}));
    EXPECT_FALSE(tester.lastSucceeded());
    expectEnded();
}

TEST_F(KeyboardScan, ANewScanAfterAStopStartsClean) {
    bench.script({kExampleReport});
    ASSERT_TRUE(startScan());
    ASSERT_TRUE(waitFor([&] { return tester.waitingForTick(); }));
    ASSERT_TRUE(stopAndWait());

    bench.script({kExampleReport});
    ASSERT_TRUE(startScan());
    ASSERT_TRUE(waitFor([&] { return bench.chip().beeps() == 2; }));
    ASSERT_TRUE(waitFor([&] { return tester.waitingForTick(); }));
    ASSERT_TRUE(stopAndWait());
    EXPECT_EQ(bench.written(), "BuIQBuIQ");
    // Each scan lists its own pairs and ends with its own summary.
    EXPECT_EQ(ui.shown<keyboard::PairClosed>().size(), 6u);
    const std::string summary = "Closed pairs: 1-2 short? 1-5 short? 3-4 short?";
    const auto lines = ui.lines();
    EXPECT_EQ(tail(lines, kKeyboardLinkLines.size() + 1), join({kKeyboardLinkLines, {summary}}));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), summary), 2);
}

TEST_F(KeyboardScan, SecondStartWhileScanningDoesNothing) {
    bench.script({kNothing});
    ASSERT_TRUE(startScan());
    ASSERT_TRUE(waitFor([&] { return tester.waitingForTick(); }));
    const auto lines = ui.lines();
    EXPECT_FALSE(tester.startScan());
    EXPECT_EQ(ui.lines(), lines);
    EXPECT_EQ(bench.written(), "Bu");
    EXPECT_TRUE(tester.pacing());
}

TEST_F(KeyboardScan, ClearBetweenReportsTogglesFromAquaAgain) {
    bench.script({kNothing, kExampleReport, kExampleReport});
    ASSERT_TRUE(startScan());
    ASSERT_TRUE(nextReport(tester, bench.chip()));
    ASSERT_TRUE(waitFor([&] { return tester.waitingForTick(); }));
    expectExampleCells(CellColour::Red);
    tester.clear();
    EXPECT_EQ(notAqua(), 0);
    ASSERT_TRUE(nextReport(tester, bench.chip()));
    ASSERT_TRUE(waitFor([&] { return bench.chip().beeps() == 2; }));
    expectExampleCells(CellColour::Red);
    EXPECT_EQ(ui.shown<keyboard::CellsCleared>().size(), 1u);
}

TEST_F(KeyboardScan, SilentProgrammerEndsTheScanWithALine) {
    tester.link().timeouts.reply = 200ms;
    bench.bench.programmer->faults.silentFromStep = 3;  // 'B' and 'u' answered, 'U' not
    bench.script({kExampleReport, kExampleReport});

    ASSERT_TRUE(startScan());
    ASSERT_TRUE(nextReport(tester, bench.chip()));
    ASSERT_TRUE(tester.operation().waitIdle(5s));

    auto expected = kKeyboardLinkLines;
    expected.push_back("The programmer does not answer (time-out).");
    expected.push_back("Closed pairs: 1-2 short? 1-5 short? 3-4 short?");
    EXPECT_EQ(ui.lines(), expected);
    EXPECT_EQ(bench.written(), "BuIUQ");
    EXPECT_FALSE(tester.lastSucceeded());
    expectEnded();
}

TEST_F(KeyboardScan, LostProgrammerEndsTheScanWithALine) {
    bench.bench.programmer->faults.hangUpAtStep = 3;
    bench.script({kExampleReport, kExampleReport});

    ASSERT_TRUE(startScan());
    ASSERT_TRUE(nextReport(tester, bench.chip()));
    ASSERT_TRUE(tester.operation().waitIdle(5s));

    auto expected = kKeyboardLinkLines;
    expected.push_back("Connection with the programmer is lost.");
    expected.push_back("Closed pairs: 1-2 short? 1-5 short? 3-4 short?");
    EXPECT_EQ(ui.lines(), expected);
    EXPECT_FALSE(tester.lastSucceeded());
    EXPECT_FALSE(bench.slot->isOpen());
    EXPECT_FALSE(tester.pacing());
    EXPECT_EQ(ui.events(), (std::vector<std::string>{"started Keyboard", "ended"}));
    EXPECT_TRUE(tester.operation().idle());
}

Bytes reportOfLength(size_t length) {
    // Line 1 with partner 2 over and over: an odd count leaves the cell red.
    Bytes report = {'>', 1};
    report.resize(length - 1, 2);
    report.push_back('&');
    return report;
}

TEST_F(KeyboardScan, OverlongReportIsDiscardedAndTheScanGoesOn) {
    bench.script({reportOfLength(kReportCapacity + 1), kExampleReport});

    ASSERT_TRUE(startScan());
    ASSERT_TRUE(waitFor([&] { return tester.waitingForTick(); }));
    EXPECT_TRUE(painted().empty());
    auto expected = kKeyboardLinkLines;
    expected.push_back("The programmer's report is longer than 1024 bytes and is discarded.");
    EXPECT_EQ(ui.lines(), expected);

    ASSERT_TRUE(nextReport(tester, bench.chip()));
    ASSERT_TRUE(waitFor([&] { return bench.chip().beeps() == 1; }));
    expectExampleCells(CellColour::Red);
    ASSERT_TRUE(waitFor([&] { return tester.waitingForTick(); }));
    ASSERT_TRUE(stopAndWait());
    EXPECT_EQ(bench.written(), "BuUIQ");
    EXPECT_TRUE(tester.lastSucceeded());
}

TEST_F(KeyboardScan, ReportOfExactlyTheAccumulatorIsShown) {
    bench.chip().setScript({{reportOfLength(kReportCapacity), {300, 300, 300}}});
    ASSERT_TRUE(startScan());
    ASSERT_TRUE(waitFor([&] { return bench.chip().beeps() == 1; }));
    EXPECT_EQ(colour(1, 2), CellColour::Short);
    EXPECT_EQ(ui.lines(), kKeyboardLinkLines);
}

}  // namespace
