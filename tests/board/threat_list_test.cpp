#include <gtest/gtest.h>

#include <vector>

#include "board/board.h"
#include "board/line_patterns.h"
#include "board/win_test.h"
#include "search/static_value.h"
#include "board_fixture.h"

namespace {

// The entries in the order of the arrays, the weakest first.
std::vector<int> classesOf(const ThreatList& list) {
    std::vector<int> classes;
    for (const ThreatEntry e : list) classes.insert(classes.begin(), e.threatClass);
    return classes;
}
std::vector<int> cellsOf(const ThreatList& list) {
    std::vector<int> cells;
    for (const ThreatEntry e : list) cells.insert(cells.begin(), e.cell);
    return cells;
}

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
    }
}

TEST(ThreatList, RemoveAndRead) {
    ThreatList list;
    EXPECT_EQ(list.removeCell(7), -1);
    EXPECT_EQ(list.begin(), list.end());
    EXPECT_EQ(list.strongest().cell, -1);
    EXPECT_EQ(list.strongest().threatClass, NoThreat);
    for (int i = 0; i < 7; ++i) list.insert(100 + i, 13 - i);
    EXPECT_EQ(list.removeCell(103), 10);
    EXPECT_EQ(list.removeCell(103), -1);
    EXPECT_EQ(cellsOf(list), (std::vector<int>{100, 101, 102, 104, 105, 106}));
    EXPECT_EQ(list.strongest().cell, 106);
    EXPECT_EQ(list.strongest().threatClass, 7);
    EXPECT_EQ((*list.begin()).cell, 106);
    EXPECT_EQ(std::distance(list.begin(), list.end()), 6);

    ThreatList copy;
    copy.copyFrom(list);
    EXPECT_EQ(cellsOf(copy), cellsOf(list));
    EXPECT_EQ(classesOf(copy), classesOf(list));
    ThreatList empty, emptyCopy;
    emptyCopy.copyFrom(empty);
    EXPECT_TRUE(emptyCopy.empty());

    list.clear();
    EXPECT_EQ(list.size(), 0);
    EXPECT_EQ(list.begin(), list.end());
}

// A batch update ends as the same updates one at a time: lists, listed bits
// and totals, also when an entry's cell lacks its listed bit (an image's
// list), which the batch finds only after it changed the list and undoes.
TEST(ThreatList, BatchUpdateEqualsUpdatesOneByOne) {
    const CellClass ops[] = {{10, 12}, {11, NoThreat}, {12, 9}, {30, 13}};
    for (const bool unlistedEntry : {false, true}) {
        SCOPED_TRACE(unlistedEntry);
        ThreatList batch, single;
        uint8_t batchBytes[CellCount] = {}, singleBytes[CellCount] = {};
        int32_t batchTotal = 0, singleTotal = 0;
        for (int cell : {10, 11, 12, 20}) {
            batch.update(cell, 13 - cell % 4, batchBytes, ListedX, batchTotal);
            single.update(cell, 13 - cell % 4, singleBytes, ListedX, singleTotal);
        }
        if (unlistedEntry) batchBytes[11] = singleBytes[11] = 0;
        batch.update(ops, 4, batchBytes, ListedX, batchTotal, true);
        for (const CellClass& op : ops) single.update(op.cell, op.threatClass, singleBytes, ListedX, singleTotal);
        EXPECT_EQ(cellsOf(batch), cellsOf(single));
        EXPECT_EQ(classesOf(batch), classesOf(single));
        EXPECT_EQ(batchTotal, singleTotal);
        EXPECT_EQ(std::vector<uint8_t>(batchBytes, batchBytes + CellCount),
                  std::vector<uint8_t>(singleBytes, singleBytes + CellCount));
    }
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
        ImageParts parts;
        parts.side = static_cast<uint8_t>(c.side);
        auto& mover = c.side ? parts.x : parts.o;
        auto& opponent = c.side ? parts.o : parts.x;
        const uint8_t moverBit = c.side ? ListedX : ListedO;
        auto fill = [](std::vector<std::pair<int, int>>& list, const std::vector<int>& classes, int first) {
            ThreatList inserted;
            for (size_t i = 0; i < classes.size(); ++i) inserted.insert(first + static_cast<int>(i), classes[i]);
            for (const ThreatEntry e : inserted) list.insert(list.begin(), {e.cell, e.threatClass});
        };
        fill(mover, c.mover, 0);
        fill(opponent, c.opponent, 200);
        if (c.moverListedOn >= 0) parts.cells[200 + c.moverListedOn] |= moverBit;
        auto board = boardFromImage(parts);
        EXPECT_EQ(winTest(*board), c.expected) << c.name;
        EXPECT_EQ(scorePosition(*board), WinValue * c.expected) << c.name;  // totals are all 0 here
    }
}

TEST(StaticValue, OpenPositionSubtractsSavedScore) {
    // No threat of class 3 or better on either side; x's total was 115
    // before its last stone.
    Board board;
    for (auto [x, y] : {std::pair{9, 9}, {10, 9}, {9, 10}, {9, 8}, {9, 11}}) board.makeMove(cellAt(x, y));
    ASSERT_EQ(board.xScore(), 265);
    ASSERT_EQ(board.oScore(), 230);
    ASSERT_EQ(board.savedScore(), 115);
    EXPECT_EQ(scorePosition(board), 230 - 115);
    board.pass();
    EXPECT_EQ(scorePosition(board), 265 - 115);
}

}  // namespace
