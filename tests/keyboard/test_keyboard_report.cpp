// The report walk and the cell numbering, without a programmer.
#include <gtest/gtest.h>

#include <set>

#include "keyboard_fixture.h"

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

TEST(KeyboardReport, ColoursToggleRedYellowRed) {
    CellColours cells;
    EXPECT_EQ(cells.colour(1, 2), CellColour::Aqua);
    EXPECT_EQ(cells.toggle(1, 2), CellColour::Red);
    EXPECT_EQ(cells.toggle(1, 2), CellColour::Yellow);
    EXPECT_EQ(cells.toggle(1, 2), CellColour::Red);
    EXPECT_EQ(cells.colour(2, 3), CellColour::Aqua);
    cells.clear();
    EXPECT_EQ(cells.colour(1, 2), CellColour::Aqua);
    EXPECT_EQ(cells.toggle(1, 2), CellColour::Red);

    EXPECT_EQ(toRgb(CellColour::Aqua), (Rgb{0, 255, 255}));
    EXPECT_EQ(toRgb(CellColour::Red), (Rgb{255, 0, 0}));
    EXPECT_EQ(toRgb(CellColour::Yellow), (Rgb{255, 255, 0}));
}

}  // namespace
