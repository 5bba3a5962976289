#include "board/analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "board_fixture.h"

namespace {

// The list every analysis of these tests leaves its moves in.
AnalysisResult listed;
int analyse(const Board& board) { return analyse(board, listed); }

using Points = std::vector<std::pair<int, int>>;

int at(std::pair<int, int> p) { return cellAt(p.first, p.second); }

void play(Board& board, const Points& moves) {
    for (auto p : moves) board.makeMove(at(p));
}

// A position set up the way position files are loaded.
void load(Board& board, const Points& xs, const Points& os, int sideToMove) {
    int8_t stones[CellCount];
    std::fill(std::begin(stones), std::end(stones), static_cast<int8_t>(NoStone));
    for (auto p : xs) stones[at(p)] = 1;
    for (auto p : os) stones[at(p)] = 0;
    board.setUp(stones, sideToMove);
}

std::vector<int> resultList() { return std::vector<int>(listed.resultCells, listed.resultCells + listed.resultCount); }

std::vector<int> cellsOf(const Points& points) {
    std::vector<int> cells;
    for (auto p : points) cells.push_back(at(p));
    return cells;
}

bool marksClear() {
    return std::all_of(listed.resultMarks, listed.resultMarks + CellCount, [](uint8_t m) { return m == 0; });
}

TEST(AnalysisTest, OpeningReplies) {
    struct Case {
        const char* name;
        Points moves;
        std::pair<int, int> reply;
    };
    const Case cases[] = {
        {"empty board", {}, {9, 9}},
        {"stone at x 15", {{15, 4}}, {14, 4}},
        {"stone at x 3", {{3, 17}}, {4, 17}},
        {"stone at x 10", {{10, 10}}, {9, 10}},
        {"stone at x 9", {{9, 0}}, {10, 0}},
        {"two stones, 169 empty", {{9, 9}, {10, 10}}, {9, 8}},
        {"two stones, 169 taken", {{9, 9}, {9, 8}}, {8, 9}},
        {"169 and 188 both taken", {{9, 8}, {8, 9}}, {9, 9}},
    };
    for (const Case& c : cases) {
        Board board;
        play(board, c.moves);
        EXPECT_EQ(analyse(board), 0) << c.name;
        EXPECT_EQ(resultList(), std::vector<int>{at(c.reply)}) << c.name;
        EXPECT_TRUE(marksClear()) << c.name;
    }
}

TEST(AnalysisTest, OneLoadedStoneWithoutLastMove) {
    Board board;
    load(board, {{16, 3}}, {}, 0);
    EXPECT_EQ(analyse(board), 0);
    EXPECT_EQ(resultList(), std::vector<int>{cellAt(15, 3)});
}

TEST(AnalysisTest, ImmediateOutcomes) {
    struct Case {
        const char* name;
        Points xs, os;
        int side;
        int result;
        Points allowed;  // the single listed move is one of these
    };
    const Case cases[] = {
        {"mover completes five", {{5, 5}, {6, 5}, {7, 5}, {8, 5}}, {{4, 5}, {0, 0}, {19, 19}, {0, 19}}, 1, 1,
         {{9, 5}}},
        {"mover makes an open four", {{5, 5}, {6, 5}, {7, 5}}, {{0, 0}, {19, 19}, {0, 19}}, 1, 1,
         {{4, 5}, {8, 5}}},
        {"opponent has one five point", {{5, 5}, {6, 5}, {7, 5}, {8, 5}}, {{4, 5}, {0, 0}, {19, 19}}, 0, 0,
         {{9, 5}}},
        {"opponent has two five points", {{5, 5}, {6, 5}, {7, 5}, {8, 5}}, {{0, 0}, {19, 19}, {0, 19}}, 0, -1,
         {{4, 5}, {9, 5}}},
        {"mover's five beats the opponent's", {{5, 5}, {6, 5}, {7, 5}, {8, 5}},
         {{0, 10}, {1, 10}, {2, 10}, {3, 10}}, 0, 1, {{4, 10}}},
    };
    for (const Case& c : cases) {
        Board board;
        load(board, c.xs, c.os, c.side);
        EXPECT_EQ(analyse(board), c.result) << c.name;
        ASSERT_EQ(listed.resultCount, 1) << c.name;
        auto allowed = cellsOf(c.allowed);
        EXPECT_NE(std::find(allowed.begin(), allowed.end(), listed.resultCells[0]), allowed.end()) << c.name;
        EXPECT_TRUE(marksClear()) << c.name;
    }
}

// 'x' to move with (5, 5) making a four (row 5, blocked at (1, 5)) and an open
// three (column 5).
const Points FourThreeX = {{2, 5}, {3, 5}, {4, 5}, {5, 6}, {5, 7}};

TEST(AnalysisTest, FourThreeWinsUnlessTheOpponentHasAFour) {
    struct Case {
        const char* name;
        Points extraX, os;
        int result;
    };
    const Case cases[] = {
        {"opponent has only threes", {}, {{1, 5}, {15, 15}, {16, 15}, {19, 0}, {0, 19}}, 1},
        {"opponent has no threats", {}, {{1, 5}, {15, 15}, {19, 0}, {0, 19}, {12, 17}}, 1},
        {"opponent can make a four", {{14, 15}}, {{1, 5}, {15, 15}, {16, 15}, {17, 15}, {0, 19}, {19, 0}}, 0},
    };
    for (const Case& c : cases) {
        Board board;
        Points xs = FourThreeX;
        xs.insert(xs.end(), c.extraX.begin(), c.extraX.end());
        load(board, xs, c.os, 1);
        ASSERT_EQ(board.threats(1).strongest().threatClass, 2) << c.name;
        ASSERT_EQ(board.threats(1).strongest().cell, cellAt(5, 5)) << c.name;
        EXPECT_EQ(analyse(board), c.result) << c.name;
        auto list = resultList();
        if (c.result == 1) {
            EXPECT_EQ(list, std::vector<int>{cellAt(5, 5)}) << c.name;
        } else {
            EXPECT_GT(list.size(), 1u) << c.name;
            EXPECT_NE(std::find(list.begin(), list.end(), cellAt(5, 5)), list.end()) << c.name;
        }
        EXPECT_TRUE(marksClear()) << c.name;
    }
}

TEST(AnalysisTest, ListsOfPlayedPositions) {
    struct Case {
        const char* name;
        Points moves;
        Points expected;
    };
    const Case cases[] = {
        {"open three in a row", {{9, 9}, {0, 5}, {8, 9}, {0, 6}, {7, 9}}, {{10, 9}, {6, 9}}},
        {"quiet position",
         {{9, 9}, {10, 9}, {9, 10}, {9, 8}, {9, 11}},
         {{10, 7}, {10, 8}, {11, 10}, {8, 7}, {10, 10}, {8, 10}, {10, 11}, {9, 12}}},
        {"open three against a stone: the far point comes second",
         {{9, 9}, {5, 9}, {8, 9}, {0, 6}, {7, 9}},
         {{10, 9}, {11, 9}, {6, 9}}},
        {"open four point at the backward end, open beyond",
         {{9, 9}, {0, 0}, {8, 9}, {0, 19}, {7, 9}, {2, 9}, {19, 0}},
         {{6, 9}, {10, 9}}},
        {"open four point at the backward end, blocked beyond",
         {{9, 9}, {11, 9}, {8, 9}, {0, 19}, {7, 9}},
         {{6, 9}, {5, 9}, {10, 9}}},
    };
    for (const Case& c : cases) {
        Board board;
        play(board, c.moves);
        EXPECT_EQ(analyse(board), 0) << c.name;
        EXPECT_EQ(resultList(), cellsOf(c.expected)) << c.name;
        EXPECT_TRUE(marksClear()) << c.name;
    }
}

// Positions given by their threat lists alone. Cells N(i) have a stone beside
// them, cells I(i) are isolated; entries are listed strongest first.
std::pair<int, int> N(int i) { return {2 * (i % 10), i < 10 ? 3 : 6}; }
std::pair<int, int> I(int i) { return {2 * (i % 10), i < 10 ? 10 : 13}; }

struct Entry {
    std::pair<int, int> cell;
    int threatClass;
    bool listedForOpponent = false;
};
using Entries = std::vector<Entry>;

Entries repeat(std::pair<int, int> (*cell)(int), int first, int n, int threatClass) {
    Entries entries;
    for (int i = first; i < first + n; ++i) entries.push_back({cell(i), threatClass});
    return entries;
}

Entries operator+(Entries a, const Entries& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Points range(std::pair<int, int> (*cell)(int), int first, int n) {
    Points points;
    for (int i = first; i < first + n; ++i) points.push_back(cell(i));
    return points;
}

// The entries in reading order, as an image holds them (weakest first).
void fill(std::vector<std::pair<int, int>>& list, const Entries& entries) {
    for (const Entry& e : entries) {
        ASSERT_TRUE(list.empty() || e.threatClass >= list.front().second);
        list.insert(list.begin(), {at(e.cell), e.threatClass});
    }
}

TEST(AnalysisTest, ListsFromTheThreatLists) {
    struct Case {
        const char* name;
        int side, moveCount;
        Entries own, opponent;
        int result;
        Points expected;
    };
    const Case cases[] = {
        {"opponent walk stops at fourteen", 1, 20, {}, repeat(N, 0, 16, 7), 0, range(N, 0, 14)},
        {"a long own walk disables the stop", 1, 20, repeat(N, 0, 15, 12), repeat(N, 15, 2, 7), 0, range(N, 0, 17)},
        {"opponent open three added early in the game", 1, 9, {{N(2), 13}}, {{N(0), 7}, {N(1), 11}}, 0,
         {N(0), N(1), N(2)}},
        {"opponent open three reserved from move ten", 1, 10, {{N(2), 13}}, {{N(0), 7}, {N(1), 11}}, 0,
         {N(0), N(2), N(1)}},
        {"isolated opponent open three is reserved", 0, 9, {}, {{I(0), 11}, {N(0), 12}}, 0, {N(0)}},
        {"strong opponent cells unless isolated", 0, 20, {}, {{I(0), 4}, {N(0), 5}, {N(1), 13}}, 0, {N(0), N(1)}},
        {"own open three on an opponent cell", 1, 20, {{N(1), 11}, {N(0), 11, true}}, {}, 0, {N(0), N(1)}},
        {"own weak cell reserved with eight listed", 1, 20, repeat(N, 0, 8, 6) + repeat(N, 8, 1, 9), {}, 0,
         range(N, 0, 9)},
        {"own weak cell skipped with nine listed", 1, 20, repeat(N, 0, 9, 6) + repeat(N, 9, 1, 9), {}, 0,
         range(N, 0, 9)},
        {"own walk ends once the reserve passes ten", 0, 20, repeat(I, 0, 10, 9) + repeat(N, 0, 2, 10), {}, 0,
         {N(0)}},
        {"six weak cells all reserved", 0, 20, repeat(N, 0, 6, 9), {}, 0, range(N, 0, 6)},
        {"first reserve pass stops at ten", 1, 20, repeat(N, 0, 12, 13), {}, 0, range(N, 0, 10)},
        {"second pass takes isolated cells up to eight", 1, 20, repeat(I, 0, 10, 13), {}, 0, range(I, 0, 8)},
        {"a few isolated cells", 1, 20, repeat(I, 0, 2, 13), {}, 0, range(I, 0, 2)},
        {"line threes follow a four and open two for x", 1, 20, {{N(0), 7}, {N(1), 8}, {N(12), 8}}, {{N(13), 7}},
         0, {N(0), N(1), N(13), N(12)}},
        {"but not for o", 0, 20, {{N(0), 7}, {N(1), 8}, {N(12), 8}}, {{N(13), 7}}, 0,
         {N(0), N(13), N(1), N(12)}},
        {"double open three answered by fours and open threes", 1, 20, {{N(0), 11}, {N(1), 12}, {N(2), 13}},
         {{I(0), 3}, {I(1), 3}, {I(2), 11}}, 0, {I(0), I(1), N(0), N(1)}},
        {"four-three beats a double three", 1, 20, {{N(0), 2}}, {{I(0), 3}, {I(1), 11}}, 1, {N(0)}},
        {"double three yields to a four-three", 1, 20, {{N(0), 3}, {N(1), 12}}, {{I(0), 2}}, 0, {I(0), N(1)}},
    };
    for (const Case& c : cases) {
        ImageParts parts;
        for (int i = 0; i < 20; ++i) {
            auto [x, y] = N(i);
            parts.cells[cellAt(x, y - 1)] = StoneX;
        }
        parts.side = static_cast<uint8_t>(c.side);
        parts.moveCount = c.moveCount;
        fill(c.side ? parts.x : parts.o, c.own);
        fill(c.side ? parts.o : parts.x, c.opponent);
        for (const Entry& e : c.own)
            if (e.listedForOpponent) parts.cells[at(e.cell)] |= c.side ? ListedO : ListedX;
        const auto read = boardFromImage(parts);
        const Board& board = *read;
        EXPECT_EQ(analyse(board), c.result) << c.name;
        EXPECT_EQ(resultList(), cellsOf(c.expected)) << c.name;
        EXPECT_TRUE(marksClear()) << c.name;
    }
}

TEST(AnalysisTest, DefencesOfDoubleThreats) {
    struct Case {
        const char* name;
        Points xs, os;
        Points expected;
    };
    const Case cases[] = {
        {"double four: both lines' defence points",
         {{6, 9}, {7, 9}, {8, 9}, {9, 6}, {9, 7}, {9, 8}},
         {{5, 9}, {9, 5}},
         {{9, 9}, {10, 9}, {9, 10}}},
        {"four and open three: no tidying of three points", FourThreeX,
         {{1, 5}, {15, 15}, {19, 0}, {0, 19}, {12, 17}},
         {{5, 5}, {6, 5}, {5, 4}, {5, 8}}},
        {"double open three", {{7, 9}, {8, 9}, {9, 7}, {9, 8}}, {{0, 0}, {19, 19}, {0, 19}, {19, 0}},
         {{9, 9}, {6, 9}, {10, 9}, {9, 6}, {9, 10}}},
    };
    for (const Case& c : cases) {
        Board board;
        load(board, c.xs, c.os, 0);
        EXPECT_EQ(analyse(board), 0) << c.name;
        EXPECT_EQ(resultList(), cellsOf(c.expected)) << c.name;
        EXPECT_TRUE(marksClear()) << c.name;
    }
}

TEST(AnalysisTest, OpenThreeDefenceAddsOnlyFourMakingCounters) {
    // 'o' has a blocked three in column 0: its four-making cells answer the
    // open three; its weaker cells do not.
    Board board;
    play(board, {{9, 9}, {0, 5}, {8, 9}, {0, 6}, {0, 8}, {0, 7}, {7, 9}});
    EXPECT_EQ(analyse(board), 0);
    auto list = resultList();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0], cellAt(10, 9));
    EXPECT_EQ(list[1], cellAt(6, 9));
    EXPECT_EQ(std::set<int>(list.begin() + 2, list.end()), (std::set<int>{cellAt(0, 4), cellAt(0, 3)}));
    EXPECT_TRUE(marksClear());
}

TEST(AnalysisTest, DefaultMove) {
    struct Case {
        const char* name;
        Points xs, os;
        int side;
        std::pair<int, int> move;
    };
    const Case cases[] = {
        {"towards the middle from the far corner", {{0, 0}, {19, 0}}, {{19, 19}}, 0, {18, 18}},
        {"towards the middle from the near corner", {{0, 0}, {0, 19}}, {{19, 19}}, 1, {1, 1}},
        {"diagonal taken: same column", {{0, 0}, {15, 3}, {6, 17}}, {{1, 1}, {19, 19}, {0, 10}}, 1, {0, 1}},
        {"diagonal and column taken: same row", {{0, 0}, {2, 1}}, {{0, 1}, {1, 1}}, 1, {1, 0}},
        {"all three taken: lowest empty", {{0, 0}, {1, 0}, {2, 1}}, {{0, 1}, {1, 1}, {2, 0}, {3, 2}}, 1, {3, 0}},
        {"no own stone: lowest empty", {{0, 0}, {19, 0}, {0, 19}}, {}, 0, {1, 0}},
    };
    for (const Case& c : cases) {
        Board board;
        load(board, c.xs, c.os, c.side);
        ASSERT_EQ(board.threats(1).size() + board.threats(0).size(), 0) << c.name;
        EXPECT_EQ(analyse(board), 0) << c.name;
        EXPECT_EQ(resultList(), std::vector<int>{at(c.move)}) << c.name;
        EXPECT_TRUE(marksClear()) << c.name;
    }
}

TEST(AnalysisTest, IsIsolated) {
    struct Case {
        const char* name;
        Points stones;
        int cell;
        bool isolated;
    };
    const Case cases[] = {
        {"index 0", {}, 0, false},
        {"index 20", {}, 20, false},
        {"index 21, empty board", {}, 21, true},
        {"index 21, stone at 0", {{0, 0}}, 21, false},
        {"stone two points away", {{7, 7}}, cellAt(9, 9), true},
        {"stone on the anti-diagonal", {{10, 8}}, cellAt(9, 9), false},
        {"stone below", {{9, 10}}, cellAt(9, 9), false},
        {"x 0 sees the previous row's end", {{19, 1}}, cellAt(0, 2), false},
        {"x 19 sees the next row's start", {{0, 3}}, cellAt(19, 2), false},
        {"last row, empty board", {}, cellAt(5, 19), true},
        {"index 399, empty board", {}, 399, true},
        {"index 399, stone at 378", {{18, 18}}, 399, false},
        {"index 380 sees 399 through the wrap", {{19, 19}}, 380, false},
    };
    for (const Case& c : cases) {
        Board board;
        load(board, c.stones, {}, 0);
        EXPECT_EQ(isIsolated(board, c.cell), c.isolated) << c.name;
    }
}

TEST(AnalysisTest, AddLineThreesTakesNearbyThreesOnTheLines) {
    const int c = cellAt(9, 9);
    ThreatList m;
    m.insert(cellAt(9, 15), 11);  // beyond the block of classes 8..10
    m.insert(cellAt(14, 9), 10);  // five points away
    m.insert(cellAt(5, 5), 10);   // diagonal, four away
    m.insert(cellAt(10, 11), 9);  // off the lines
    m.insert(cellAt(9, 12), 8);   // same column
    m.insert(cellAt(3, 3), 7);    // skipped: not 8..10
    m.insert(c, 7);
    listed.resultCount = 0;
    addLineThrees(c, m.begin(), m.end(), listed);
    EXPECT_EQ(resultList(), (std::vector<int>{cellAt(9, 12), cellAt(5, 5)}));
    for (int i = 0; i < listed.resultCount; ++i) listed.resultMarks[listed.resultCells[i]] = 0;
    listed.resultCount = 0;
}

// Random games with stones mostly near each other: the list is well formed
// after every analysis.
TEST(AnalysisTest, ListIsWellFormedOverRandomGames) {
    std::mt19937 rng(12345);
    int decided = 0, analysed = 0;
    for (int game = 0; game < 60; ++game) {
        Board board;
        for (int ply = 0; ply < 120; ++ply) {
            int result = analyse(board);
            ++analysed;
            ASSERT_TRUE(marksClear()) << "game " << game << " ply " << ply;
            ASSERT_GE(result, -1);
            ASSERT_LE(result, 1);
            if (result == 0) {
                ASSERT_GT(listed.resultCount, 0);
            } else {
                ASSERT_EQ(listed.resultCount, 1);
            }
            std::set<int> seen;
            for (int i = 0; i < listed.resultCount; ++i) {
                int cell = listed.resultCells[i];
                ASSERT_GE(cell, 0);
                ASSERT_LT(cell, CellCount);
                ASSERT_TRUE(board.isEmpty(cell)) << "occupied cell listed, game " << game;
                ASSERT_TRUE(seen.insert(cell).second) << "duplicate cell listed, game " << game;
            }
            if (result != 0) {
                ++decided;
                break;
            }
            int move;
            if (rng() % 4 != 0) {
                move = listed.resultCells[rng() % listed.resultCount];
            } else {
                do move = static_cast<int>(rng() % CellCount);
                while (!board.isEmpty(move));
            }
            board.makeMove(move);
        }
    }
    EXPECT_GT(decided, 10);  // the games reach tactical positions
    EXPECT_GT(analysed, 1000);
}

}  // namespace
