#include "search/negamax.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "board/analysis.h"
#include "platform/clock.h"
#include "search/static_value.h"

namespace {

// The state of the searches of these tests, as a turn's would be.
SearchContext context;

void play(Board& board, const std::vector<int>& moves) {
    for (int cell : moves) board.makeMove(cell);
}

std::vector<int> listedMoves(Board& board) {
    analyse(board, context.analysis);
    return std::vector<int>(context.analysis.resultCells, context.analysis.resultCells + context.analysis.resultCount);
}

// The value of the child after `cell` at depth 0, seen from the parent.
int32_t childValue(const Board& board, int cell) {
    auto copy = copyBoard(board);
    copy->makeMove(cell);
    return -scorePosition(*copy);
}

void setDeadline(int32_t fromNowMs) { context.moveDeadline = platform::clockAdd(platform::clockMs(), fromNowMs); }

// Random analysis-driven games that reached a position with more than 20 listed moves.
const std::vector<int> manyMovesSide1 = {189, 190, 169, 209, 170, 171, 152, 151, 228, 207, 149,
                                         210, 109, 129, 208, 131, 191, 111, 91,  128, 212, 233,
                                         246, 227, 132, 187, 192, 172, 167, 188, 130, 267, 247,
                                         206, 92,  108, 249, 245, 72,  112, 93,  264, 226, 90};
const std::vector<int> manyMovesSide0 = {189, 190, 169, 168, 209, 149, 170, 187, 249, 229, 206,
                                         205, 151, 208, 166, 226, 230, 184, 163, 164, 211, 192,
                                         228, 165, 287, 268, 247, 130, 111, 186, 183};
// x has four in a row with both ends open and is to move.
const std::vector<int> xToMoveWon = {189, 0, 190, 2, 191, 4, 192, 6};

// 'x' and 'o' in a pattern without three in a row anywhere.
std::vector<int> filledBoard(int stones) {
    std::vector<int> xs, os, moves;
    for (int c = 0; c < CellCount; ++c) ((cellX(c) / 2 + cellY(c)) % 2 ? xs : os).push_back(c);
    for (int i = 0; i < stones; ++i) moves.push_back(i % 2 == 0 ? xs[i / 2] : os[i / 2]);
    return moves;
}

struct LeafCase {
    const char* name;
    std::vector<int> moves;
    int depth;
    int32_t deadlineFromNow;
};

TEST(ThreatSearchTest, LeavesGiveTheStaticValueAndTheFirstListedMove) {
    const LeafCase cases[] = {
        {"won for the side to move", xToMoveWon, 7, 100000},
        {"depth 0", manyMovesSide1, 0, 100000},
        {"deadline passed", manyMovesSide1, 7, -1},
        {"deadline just reached", manyMovesSide0, 7, 0},
        {"398 stones", filledBoard(398), 7, 100000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Board board;
        play(board, c.moves);
        const int32_t expected = scorePosition(board);
        const int first = listedMoves(board).at(0);
        setDeadline(c.deadlineFromNow);
        context.nodeCounter = 0;
        int32_t best = -1;
        EXPECT_EQ(search(context, best, board, c.depth, -WinValue), expected);
        EXPECT_EQ(best, first);
        EXPECT_EQ(context.nodeCounter, 0);
        // Asked for no suggestion, a leaf leaves `best` alone.
        int32_t none = 0;
        search(context, none, board, c.depth, -WinValue);
        EXPECT_EQ(none, 0);
    }
    Board won;
    play(won, xToMoveWon);
    setDeadline(100000);
    int32_t best = -1;
    EXPECT_EQ(search(context, best, won, 7, -WinValue), WinValue);
}

TEST(ThreatSearchTest, StoneCountsNextTo398AreSearched) {
    for (int stones : {397, 399}) {
        SCOPED_TRACE(stones);
        Board board;
        play(board, filledBoard(stones));
        std::vector<int> empty;
        for (int c = 0; c < CellCount; ++c)
            if (board.isEmpty(c)) empty.push_back(c);
        setDeadline(100000);
        context.nodeCounter = 0;
        int32_t best = -1;
        search(context, best, board, 3, -WinValue);
        EXPECT_GT(context.nodeCounter, 0);
        EXPECT_NE(std::find(empty.begin(), empty.end(), best), empty.end()) << best;
    }
}

TEST(ThreatSearchTest, SideOneSearchesAtMostTwentyCandidatesAndKeepsTheEarlierOfEqualValues) {
    Board board;
    play(board, manyMovesSide1);
    ASSERT_EQ(board.sideToMove(), 1);
    const std::vector<int> listed = listedMoves(board);
    ASSERT_GT(listed.size(), 20u);
    int32_t expectedValue = -WinValue;
    int expectedBest = listed[0];
    for (int i = 0; i < MaxCandidates; ++i) {
        const int32_t value = childValue(board, listed[i]);
        if (value > expectedValue) expectedValue = value, expectedBest = listed[i];
    }
    ASSERT_LT(expectedValue, WinValue);
    setDeadline(100000);
    context.nodeCounter = 0;
    int32_t best = -1;
    EXPECT_EQ(search(context, best, board, 1, -WinValue), expectedValue);
    EXPECT_EQ(best, expectedBest);
    EXPECT_EQ(context.nodeCounter, MaxCandidates);
}

TEST(ThreatSearchTest, SideZeroStopsAsSoonAsAValueBeatsTheBound) {
    Board board;
    play(board, manyMovesSide0);
    ASSERT_EQ(board.sideToMove(), 0);
    const std::vector<int> listed = listedMoves(board);
    ASSERT_GT(listed.size(), 20u);
    const int32_t first = childValue(board, listed[0]);
    ASSERT_GT(first, -WinValue);
    setDeadline(100000);
    context.nodeCounter = 0;
    int32_t best = -1;
    EXPECT_EQ(search(context, best, board, 1, -WinValue), first);
    EXPECT_EQ(best, listed[0]);
    EXPECT_EQ(context.nodeCounter, 1);

    // A bound above every child value lets all 20 be searched.
    Board again;
    play(again, manyMovesSide0);
    context.nodeCounter = 0;
    search(context, best, again, 1, WinValue);
    EXPECT_EQ(context.nodeCounter, MaxCandidates);
}

TEST(ThreatSearchTest, SingleCandidateIsPlayedOnTheBoardWithoutSpendingDepth) {
    // o's four on row 9 is closed at 188: the block at 193 is forced.
    Board board;
    play(board, {0, 189, 40, 190, 188, 191, 80, 192});
    ASSERT_EQ(board.sideToMove(), 1);
    ASSERT_EQ(listedMoves(board), std::vector<int>({193}));
    const int forced = 193;
    setDeadline(100000);
    context.nodeCounter = 0;
    int32_t best = -1;
    search(context, best, board, 1, -WinValue);
    EXPECT_EQ(best, forced);
    EXPECT_FALSE(board.isEmpty(forced));
    // The forced reply was free, so the node after it still spent its one ply on children.
    EXPECT_GT(context.nodeCounter, 1);
}

TEST(ThreatSearchTest, DeeperSearchFindsTheWinOfAnOpenThree) {
    // x has an open three on row 9 and o nothing: two plies more make it a won four.
    Board board;
    play(board, {189, 0, 190, 19, 191, 380});
    ASSERT_EQ(board.sideToMove(), 1);
    setDeadline(100000);
    int32_t best = -1;
    EXPECT_EQ(search(context, best, board, 3, -WinValue), WinValue);
    EXPECT_TRUE(best == 188 || best == 192) << best;
}

}  // namespace
