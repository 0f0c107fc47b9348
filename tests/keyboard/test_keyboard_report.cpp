// The report walk, the cell numbering, the board a scan paints and the
// profiles, without a programmer.
#include <gtest/gtest.h>

#include <set>

#include "keyboard_fixture.h"
#include "support/recording_frontend.h"

using namespace kj;
using kjtest::Bytes;

namespace {

TEST(KeyboardReport, CellNumbersFollowTheLinePairs) {
    EXPECT_EQ(cellNumber(1, 2), 2);
    EXPECT_EQ(cellNumber(1, 32), 32);
    EXPECT_EQ(cellNumber(2, 3), 35);
    EXPECT_EQ(cellNumber(3, 4), 68);
    EXPECT_EQ(cellNumber(31, 32), 992);
    for (auto [a, b] : {std::pair{2, 2}, {3, 2}, {0, 5}, {1, 33}, {32, 33}, {-1, 2}}) {
        EXPECT_EQ(cellNumber(a, b), 0) << a << "-" << b;
    }

    std::set<int> numbers;
    for (int a = 1; a <= kKeyboardLines; ++a) {
        for (int b = 1; b <= kKeyboardLines; ++b) {
            if (int n = cellNumber(a, b)) numbers.insert(n);
        }
    }
    EXPECT_EQ(numbers.size(), static_cast<size_t>(kKeyboardCells));
    EXPECT_EQ(*numbers.begin(), 2);
    EXPECT_EQ(*numbers.rbegin(), 992);
    EXPECT_FALSE(numbers.count(33) || numbers.count(34) || numbers.count(67));
}

TEST(KeyboardReport, GroupsNamePairsInReportOrder) {
    EXPECT_EQ(reportPairs(kjtest::kExampleReport), (std::vector<LinePair>{{1, 2}, {1, 5}, {3, 4}}));
    EXPECT_EQ(reportPairs(Bytes{'>', 31, 32, '&'}), (std::vector<LinePair>{{31, 32}}));
    // A group with its line alone names nothing; the next '>' starts afresh.
    EXPECT_EQ(reportPairs(Bytes{'>', 1, '>', 2, 3, '&'}), (std::vector<LinePair>{{2, 3}}));
}

TEST(KeyboardReport, NothingToShow) {
    EXPECT_TRUE(reportPairs(kjtest::kNothing).empty());
    EXPECT_TRUE(reportPairs(Bytes{}).empty());
    EXPECT_TRUE(reportPairs(Bytes{'>', '&'}).empty());
}

TEST(KeyboardReport, WalkEndsAtTheFirstEnd) {
    EXPECT_EQ(reportPairs(Bytes{'>', 1, 2, '&', '>', 3, 4, '&'}), (std::vector<LinePair>{{1, 2}}));
}

TEST(KeyboardReport, PairsThatNameNoCellAreSkipped) {
    // a >= b, b beyond 32, b of 0; the group goes on after each.
    EXPECT_EQ(reportPairs(Bytes{'>', 5, 3, 5, 40, 0, 6, '&'}), (std::vector<LinePair>{{5, 6}}));
    // A line beyond 32 as a: none of its partners names a cell.
    EXPECT_TRUE(reportPairs(Bytes{'>', 33, 34, 35, '&'}).empty());
    EXPECT_TRUE(reportPairs(Bytes{'>', 0, 1, 2, '&'}).empty());
}

// A board with a profile of three keys: the first report's pairs are shorts
// and stay so, the rest toggle red, yellow, red; each pair is listed once,
// named by its key, and the keys left shrink as keys are pressed.
TEST(KeyboardBoard, ShortsStayApartOthersToggleAndKeysAreNamed) {
    kjtest::RecordingFrontend ui;
    keyboard::ScanBoard board(ui);
    board.begin({.model = "Test", .keys = {{"Esc", {1, 2}}, {"F1", {1, 5}}, {"Q", {3, 4}}}});
    EXPECT_EQ(ui.shown<keyboard::KeysLeft>().back().keys, (std::vector<std::string>{"Esc", "F1", "Q"}));

    board.show({{1, 2}, {7, 9}});  // closed before anyone could press a key
    board.show({{1, 2}, {7, 9}, {3, 4}});
    board.show({{1, 2}, {7, 9}, {3, 4}});
    EXPECT_EQ(board.colour({1, 2}), CellColour::Short);
    EXPECT_EQ(board.colour({7, 9}), CellColour::Short);
    EXPECT_EQ(board.colour({3, 4}), CellColour::Yellow);
    board.clear();
    EXPECT_EQ(board.colour({3, 4}), CellColour::Aqua);
    board.show({{1, 2}, {3, 4}});
    EXPECT_EQ(board.colour({1, 2}), CellColour::Short);
    EXPECT_EQ(board.colour({3, 4}), CellColour::Red);

    // Only changes are shown: a short reported again is not.
    std::vector<std::string> cells;
    for (const auto& e : ui.shown<keyboard::CellEvent>())
        cells.push_back(pairName(e.pair, e.key) + " " + colourName(e.colour));
    EXPECT_EQ(cells, (std::vector<std::string>{"Esc (1-2) short?", "7-9 short?", "Q (3-4) red", "Q (3-4) yellow",
                                               "Esc (1-2) short?", "Q (3-4) red"}));
    std::vector<std::string> listed;
    for (const auto& e : ui.shown<keyboard::PairClosed>()) listed.push_back(e.text);
    EXPECT_EQ(listed, (std::vector<std::string>{"Esc (1-2) short?", "7-9 short?", "Q (3-4)"}));
    EXPECT_EQ(ui.shown<keyboard::CellsCleared>().size(), 1u);
    // A shorted key cannot be told pressed.
    EXPECT_EQ(ui.shown<keyboard::KeysLeft>().back().keys, (std::vector<std::string>{"Esc", "F1"}));
    EXPECT_EQ(board.summary(), (std::vector<std::string>{"Closed pairs: Esc (1-2) short? Q (3-4) 7-9 short?",
                                                         "Keys not pressed: Esc F1"}));

    // The next scan starts afresh but for the colours: its own first report tells its shorts.
    board.begin({});
    board.show({{3, 4}});
    board.show({{1, 2}});
    EXPECT_EQ(board.colour({3, 4}), CellColour::Short);
    EXPECT_EQ(board.colour({1, 2}), CellColour::Red);
    EXPECT_EQ(board.summary(), (std::vector<std::string>{"Closed pairs: 1-2 3-4 short?"}));
    board.begin({});
    EXPECT_EQ(board.summary(), (std::vector<std::string>{"Closed pairs: none"}));
}

// Learning takes, for the key asked for, the first pair of a report that is
// neither a short nor another key's; Skip leaves a key out.
TEST(KeyboardBoard, LearningTakesTheNextNewPairForTheKeyAskedFor) {
    kjtest::RecordingFrontend ui;
    keyboard::ScanBoard board(ui);
    board.beginLearning({"Esc", "F1", "F2", "F3"});
    board.show({{9, 10}});                 // a short
    board.show({{9, 10}, {1, 2}});         // Esc
    board.show({{9, 10}, {1, 2}});         // still held: nothing new
    board.skipKey();                       // F1
    board.show({{1, 2}, {3, 4}, {5, 6}});  // F2 takes the first new pair only
    board.show({{5, 6}});                  // F3
    board.skipKey();                       // nothing left to skip

    std::vector<std::string> prompts;
    for (const auto& e : ui.shown<keyboard::LearnPrompt>()) prompts.push_back(e.key);
    EXPECT_EQ(prompts, (std::vector<std::string>{"Esc", "F1", "F2", "F3", ""}));
    // The list holds what was learnt, as it was learnt, and the shorts.
    std::vector<std::string> listed;
    for (const auto& e : ui.shown<keyboard::PairClosed>()) listed.push_back(e.text);
    EXPECT_EQ(listed, (std::vector<std::string>{"9-10 short?", "Esc (1-2)", "F2 (3-4)", "F3 (5-6)"}));
    const auto profile = board.profile();
    ASSERT_EQ(profile.keys.size(), 3u);
    EXPECT_EQ(pairName(profile.keys[0].pair, profile.keys[0].key), "Esc (1-2)");
    EXPECT_EQ(pairName(profile.keys[1].pair, profile.keys[1].key), "F2 (3-4)");
    EXPECT_EQ(pairName(profile.keys[2].pair, profile.keys[2].key), "F3 (5-6)");
    EXPECT_EQ(board.summary(), (std::vector<std::string>{"Closed pairs: Esc (1-2) F2 (3-4) F3 (5-6) 9-10 short?"}));
}

TEST(KeyboardProfile, FileIsNotTrusted) {
    const auto loaded = parseProfile("Model",
                                     "# a comment\n"
                                     "Esc=1-2\r\n"
                                     "\n"
                                     "F1 = 5-1\n"        // either way round
                                     "F2=1-2\n"          // a pair taken
                                     "Esc=3-4\n"         // a key taken
                                     "F3=3-3\n"          // no cell
                                     "F4=0-40\n"         // no cell
                                     "F5=3-x\n"          // not a number
                                     "F6\n"              // no pair
                                     "=6-7\n"            // no key
                                     "Bad\x01key=8-9\n"  // a control character
                                     "==9-10\n"          // the last '=' splits
                                     "F7=31-32");        // no line feed at the end
    EXPECT_EQ(loaded.badLines, 8);
    std::vector<std::string> keys;
    for (const auto& [key, pair] : loaded.profile.keys) keys.push_back(pairName(pair, key));
    EXPECT_EQ(keys, (std::vector<std::string>{"Esc (1-2)", "F1 (1-5)", "= (9-10)", "F7 (31-32)"}));
}

TEST(KeyboardProfile, ModelNamesAreSafeFileNames) {
    EXPECT_EQ(profileFileName("Lenovo G580 (RU)"), "Lenovo_G580__RU_");
    EXPECT_EQ(profileFileName("../../etc/passwd"), "_._.._etc_passwd");
    EXPECT_EQ(profileFileName(".hidden"), "_hidden");
    EXPECT_EQ(profileFileName("HP-15_bw.v2"), "HP-15_bw.v2");
    EXPECT_EQ(profileFileName("Клава"), std::string(10, '_'));
    EXPECT_EQ(profileFileName("a\\b:c*"), "a_b_c_");
}

}  // namespace
