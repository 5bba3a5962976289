#include <gtest/gtest.h>

#include <random>

#include "knowledge/database_error.h"
#include "knowledge/symmetry_frame.h"
#include "knowledge_test_support.h"

using knowledge_test::at;

namespace {

std::vector<int> normaliseAll(SymmetryFrame& frame, const std::vector<int>& cells) {
    std::vector<int> keys;
    for (const int c : cells) keys.push_back(normalise(frame, c));
    return keys;
}

int transform(int symmetry, int cell) {
    int x = cellX(cell), y = cellY(cell);
    if (symmetry & 1) x = 19 - x;
    if (symmetry & 2) y = 19 - y;
    if (symmetry & 4) std::swap(x, y);
    return cellAt(x, y);
}

}  // namespace

TEST(SymmetryFrame, SecondMovesAroundTheFirstFallIntoOneEighth) {
    struct Case {
        int dx, dy, key, quarterTurns;
    };
    const Case cases[] = {
        {1, 0, 190, 0},   {-1, 0, 190, 2},  {0, 1, 190, 3},   {0, -1, 190, 1},  // right, left, lower, upper
        {1, 1, 210, -1},  {-1, 1, 210, -1}, {1, -1, 210, -1}, {-1, -1, 210, -1},
        {2, 1, 211, -1},  {1, 2, 211, -1},  {-1, 2, 211, -1}, {-2, 1, 211, -1},
        {-2, -1, 211, -1}, {-1, -2, 211, -1}, {1, -2, 211, -1}, {2, -1, 211, -1},
    };
    for (const int first : {at(9, 9), at(5, 12)}) {
        for (const Case& c : cases) {
            SymmetryFrame frame;
            EXPECT_EQ(normalise(frame, first), 189);
            const int second = at(cellX(first) + c.dx, cellY(first) + c.dy);
            EXPECT_EQ(normalise(frame, second), c.key) << c.dx << "," << c.dy;
            if (c.quarterTurns >= 0) {
                EXPECT_EQ(frame.quarterTurns, c.quarterTurns) << c.dx << "," << c.dy;
            }
            EXPECT_FALSE(frame.mirrored && frame.swapped);
            EXPECT_EQ(denormalise(frame, 189), first);
            EXPECT_EQ(denormalise(frame, c.key), second);
        }
    }
}

TEST(SymmetryFrame, AxisReflectionWaitsForTheFirstMoveOffTheLine) {
    SymmetryFrame frame;
    const std::vector<int> cells = {at(8, 11), at(9, 11), at(10, 12)};
    const std::vector<int> keys = normaliseAll(frame, {cells[0], cells[1]});
    EXPECT_EQ(keys, (std::vector<int>{189, 190}));
    EXPECT_FALSE(frame.axisSettled);
    EXPECT_TRUE(frame.diagonalSettled);
    EXPECT_EQ(normalise(frame, cells[2]), 211);
    EXPECT_TRUE(frame.mirrored);
    EXPECT_EQ(frame.movesSeen, 3);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(denormalise(frame, std::vector<int>{189, 190, 211}[k]), cells[k]);
}

TEST(SymmetryFrame, KeysOfFarOffsetsCollideAndDoNotComeBack) {
    SymmetryFrame frame;
    EXPECT_EQ(normaliseAll(frame, {at(3, 9), at(14, 9)}), (std::vector<int>{189, 200}));
    EXPECT_THROW(denormalise(frame, 200), DatabaseError);  // it reads as dx -9, dy 1: off the board
}

TEST(SymmetryFrame, RefusesWhatCannotBeAKeyOrACell) {
    SymmetryFrame frame;
    normalise(frame, at(3, 16));
    const SymmetryFrame before = frame;
    EXPECT_THROW(normalise(frame, at(16, 3)), DatabaseError);  // dx 13, dy 13: key 462
    EXPECT_EQ(frame, before);
    EXPECT_THROW(normalise(frame, at(3, 16)), DatabaseError);  // second move on the first move's cell
    EXPECT_EQ(frame, before);
    for (const int bad : {-1, 400, 100000}) {
        EXPECT_THROW(normalise(frame, bad), DatabaseError);
        EXPECT_THROW(denormalise(frame, bad), DatabaseError);
    }
    EXPECT_EQ(frame, before);
    SymmetryFrame far;
    normalise(far, at(0, 0));
    EXPECT_THROW(denormalise(far, 399), DatabaseError);
}

TEST(SymmetryFrame, FreshFrameMapsTheCentre) {
    SymmetryFrame frame;
    EXPECT_EQ(denormalise(frame, 189), 209);
    EXPECT_EQ(normalise(frame, 209), 189);
}

// Near games (every move within four cells of the first) have keys that tell
// all offsets apart: every copy of a game under the board's eight symmetries
// gets the same keys, and the final frame gives every move back.
TEST(SymmetryFrame, EquivalentGamesShareOneLine) {
    std::mt19937 random(7);
    for (int game = 0; game < 300; ++game) {
        const int fx = 4 + int(random() % 12), fy = 4 + int(random() % 12);
        std::vector<int> cells = {at(fx, fy)};
        std::vector<bool> used(CellCount);
        used[cells[0]] = true;
        // Many games stay on a line or a diagonal for a while, to reach the
        // undecided reflections.
        const int style = game % 3;
        while (cells.size() < 12) {
            int dx = int(random() % 9) - 4, dy = int(random() % 9) - 4;
            if (cells.size() < 4 && style == 1) dy = 0;
            if (cells.size() < 4 && style == 2) dy = dx;
            const int c = at(fx + dx, fy + dy);
            if (!onBoard(fx + dx, fy + dy) || used[c]) continue;
            used[c] = true;
            cells.push_back(c);
        }
        SymmetryFrame frame;
        const std::vector<int> keys = normaliseAll(frame, cells);
        for (size_t k = 0; k < cells.size(); ++k) ASSERT_EQ(denormalise(frame, keys[k]), cells[k]) << game;
        for (int symmetry = 1; symmetry < 8; ++symmetry) {
            std::vector<int> image;
            for (const int c : cells) image.push_back(transform(symmetry, c));
            SymmetryFrame other;
            ASSERT_EQ(normaliseAll(other, image), keys) << "game " << game << " symmetry " << symmetry;
        }
    }
}
