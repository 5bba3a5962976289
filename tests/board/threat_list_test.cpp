#include <gtest/gtest.h>

#include <vector>

#include "board/board.h"
#include "board/line_patterns.h"
#include "board/win_test.h"
#include "search/static_value.h"

namespace {

std::vector<int> classesOf(const ThreatList& list) { return {list.classes, list.classes + list.count}; }
std::vector<int> cellsOf(const ThreatList& list) { return {list.cells, list.cells + list.count}; }

TEST(ThreatList, InsertionOrder) {
    struct Case {
        std::vector<int> inserted;
        std::vector<int> classes;
        std::vector<int> cells;  // cell i carries the i-th insertion
    };
    const Case cases[] = {
        {{13, 12, 13, 0}, {13, 13, 12, 0}, {2, 0, 1, 3}},
        {{13, 12, 0, 11}, {13, 12, 11, 0}, {0, 1, 3, 2}},
        {{13, 12, 0, 12}, {13, 12, 12, 0}, {0, 1, 3, 2}},
        {{5, 5, 5}, {5, 5, 5}, {0, 1, 2}},
        {{0, 13}, {13, 0}, {1, 0}},
        {{13, 11, 9, 7, 5, 3, 1, 8}, {13, 11, 9, 8, 7, 5, 3, 1}, {0, 1, 2, 7, 3, 4, 5, 6}},
        {{1, 3, 5, 7, 9, 11, 13, 6}, {13, 11, 9, 7, 6, 5, 3, 1}, {6, 5, 4, 3, 7, 2, 1, 0}},
    };
    for (const auto& c : cases) {
        ThreatList list;
        for (size_t i = 0; i < c.inserted.size(); ++i) list.insert(static_cast<int>(i), c.inserted[i]);
        EXPECT_EQ(classesOf(list), c.classes);
        EXPECT_EQ(cellsOf(list), c.cells);
        EXPECT_EQ(list.capacity, (static_cast<int>(c.inserted.size()) + 4) / 5 * 5);
    }
}

TEST(ThreatList, RemoveAndCurrent) {
    ThreatList list;
    EXPECT_EQ(list.removeCell(7), -1);
    for (int i = 0; i < 7; ++i) list.insert(100 + i, 13 - i);
    EXPECT_EQ(list.capacity, 10);
    EXPECT_EQ(list.removeCell(103), 10);
    EXPECT_EQ(list.removeCell(103), -1);
    EXPECT_EQ(cellsOf(list), (std::vector<int>{100, 101, 102, 104, 105, 106}));
    EXPECT_EQ(list.capacity, 10);  // removals never shrink

    int cell = -5, threatClass = -5;
    list.cursor = list.count - 1;
    ASSERT_TRUE(list.current(cell, threatClass));
    EXPECT_EQ(cell, 106);
    EXPECT_EQ(threatClass, 7);
    EXPECT_EQ(list.cursor, 5);
    list.cursor = -1;
    cell = threatClass = -5;
    EXPECT_FALSE(list.current(cell, threatClass));
    EXPECT_EQ(cell, -5);

    ThreatList copy;
    copy.copyFrom(list);
    EXPECT_EQ(copy.capacity, 11);
    EXPECT_EQ(cellsOf(copy), cellsOf(list));
    EXPECT_EQ(classesOf(copy), classesOf(list));
    ThreatList empty, emptyCopy;
    emptyCopy.copyFrom(empty);
    EXPECT_EQ(emptyCopy.capacity, 0);
    EXPECT_EQ(emptyCopy.cells, nullptr);

    list.clear();
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.capacity, 0);
    EXPECT_EQ(list.cells, nullptr);
}

struct WinCase {
    const char* name;
    int side;
    std::vector<int> mover;     // classes in insertion order
    std::vector<int> opponent;  // likewise
    int moverListedOn;          // index of an opponent entry whose cell the mover also lists, or -1
    int expected;
};

TEST(WinTest, Cases) {
    const WinCase cases[] = {
        {"mover five", 1, {13, 0}, {0, 0}, -1, 1},
        {"one opponent five", 1, {1}, {0}, -1, 0},
        {"two opponent fives", 1, {1}, {0, 0}, -1, -1},
        {"open four", 1, {13, 1}, {11}, -1, 1},
        {"double three against four-three", 1, {3}, {2}, -1, 0},
        {"double three against threes", 1, {3}, {13, 13, 11}, -1, 1},
        {"four-three against one free four", 1, {2}, {12, 13}, -1, 1},
        {"four-three against two free fours", 1, {2}, {12, 12, 13}, -1, 0},
        {"four-three against a four it needs", 1, {2}, {12, 13}, 0, 0},
        {"double three against four-making double", 1, {3}, {13, 7}, -1, 0},
        {"four-three against nothing", 1, {2}, {}, -1, 1},
        {"four-three, opponent open four", 1, {2}, {1}, -1, 0},
        {"mover only a four-three weaker", 1, {4}, {}, -1, 0},
        {"both empty", 1, {}, {}, -1, 0},
        {"side 0 mover open four", 0, {1}, {13}, -1, 1},
        {"side 0 two opponent fives", 0, {}, {0, 0}, -1, -1},
        {"side 0 four it needs", 0, {3}, {12}, 0, 0},
    };
    for (const auto& c : cases) {
        Board board;
        board.sideToMove_ = static_cast<uint8_t>(c.side);
        ThreatList& mover = board.moverThreats();
        ThreatList& opponent = board.opponentThreats();
        const uint8_t moverBit = c.side ? ListedX : ListedO;
        for (size_t i = 0; i < c.mover.size(); ++i) mover.insert(static_cast<int>(i), c.mover[i]);
        for (size_t i = 0; i < c.opponent.size(); ++i) {
            opponent.insert(200 + static_cast<int>(i), c.opponent[i]);
            if (static_cast<int>(i) == c.moverListedOn) board.cells[200 + i] |= moverBit;
        }
        EXPECT_EQ(winTest(board, 0), c.expected) << c.name;
        EXPECT_EQ(scorePosition(board), WinValue * c.expected) << c.name;  // totals are all 0 here
    }
}

TEST(StaticValue, OpenPositionSubtractsSavedScore) {
    Board board;
    board.xScore_ = 70;
    board.oScore_ = 12;
    board.savedScore_ = 100;
    EXPECT_EQ(scorePosition(board), -30);
    board.sideToMove_ = 0;
    EXPECT_EQ(scorePosition(board), -88);
}

}  // namespace
