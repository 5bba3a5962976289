#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>

#include "board/board.h"
#include "board/packed_board.h"
#include "board/win_test.h"
#include "board_fixture.h"

namespace {

// The lists of makeMove, laid out at once or when first read, are those of
// evaluating cell by cell; the win test reads a list waiting for its layout
// as it would the laid-out one; and a move taken back with undoMove leaves
// the Board as it was, ready for the next move.
TEST(MakeMove, BatchedDeferredAndUndoneMovesMatchCellByCell) {
    std::mt19937 rng(20251209);
    for (int game = 0; game < 10; ++game) {
        Board eager, reference, deferred, undone;
        deferred.deferLayouts(true);
        for (int ply = 0; ply < 90; ++ply) {
            const int cell = randomMove(reference, rng);

            // A trial move on `undone`, read and taken back first.
            auto before = copyBoard(undone);
            auto child = copyBoard(reference);
            referenceMove(*child, cell);
            {
                const TrialMove trial(undone, cell);
                EXPECT_EQ(undone.xScore(), child->xScore());
                EXPECT_EQ(undone.oScore(), child->oScore());
                ASSERT_EQ(winTest(undone), winTest(*child)) << "game " << game << " ply " << ply;
            }
            ASSERT_NO_FATAL_FAILURE(expectSameBoard(undone, *before, "taken back"));

            eager.makeMove(cell);
            referenceMove(reference, cell);
            deferred.makeMove(cell);
            undone.makeMove(cell);
            ASSERT_EQ(winTest(deferred), winTest(eager)) << "game " << game << " ply " << ply;
            if (ply % 3 == 0) {
                ASSERT_NO_FATAL_FAILURE(expectSameBoard(deferred, reference, "deferred", false));
            }
            ASSERT_NO_FATAL_FAILURE(expectSameBoard(eager, reference, "batched", false));
            ASSERT_NO_FATAL_FAILURE(expectSameBoard(undone, eager, "after undoing"));
        }
    }
}

// Trial moves that keep the lists let a search read every position it plays
// through and nest further trial moves there: each one, taken back, leaves
// the Board as a copy of it before the move, lists in their order.
void nestTrialMoves(Board& board, std::mt19937& rng, int depth, Board::SavedLists* lists) {
    const auto before = copyBoard(board);
    for (int child = 0; child < 3; ++child) {
        const int cell = randomMove(board, rng);
        auto reference = copyBoard(board);
        reference->makeMove(cell);
        {
            const TrialMove trial(board, cell, lists[0]);
            ASSERT_NO_FATAL_FAILURE(expectSameBoard(board, *reference, "played"));
            if (depth > 1) {
                ASSERT_NO_FATAL_FAILURE(nestTrialMoves(board, rng, depth - 1, lists + 1));
            }
        }
        ASSERT_NO_FATAL_FAILURE(expectSameBoard(board, *before, "taken back"));
    }
}

TEST(MakeMove, NestedTrialMovesKeepingTheListsAreTakenBackExactly) {
    std::mt19937 rng(20261211);
    auto lists = std::make_unique<Board::SavedLists[]>(4);
    for (int game = 0; game < 6; ++game) {
        Board board;
        for (int ply = 0; ply < 60; ++ply) {
            if (ply % 6 == 5) {
                ASSERT_NO_FATAL_FAILURE(nestTrialMoves(board, rng, 4, lists.get()));
            }
            board.makeMove(randomMove(board, rng));
        }
    }
}

}  // namespace

namespace {

// An entry whose cell lacks its listed bit (an image can hold one) would be
// listed twice by the next update: such a list is updated entry by entry, and
// a move on its Board is not played for taking back.
TEST(MakeMove, ImagesWithUnlistedEntriesAreNotPlayedForTakingBack) {
    Board board;
    for (int cell : {cellAt(9, 9), cellAt(10, 9), cellAt(9, 10), cellAt(10, 10), cellAt(8, 8)}) board.makeMove(cell);
    ASSERT_FALSE(board.threats(1).empty());
    EXPECT_TRUE(board.canTryMoves());
    ImageParts parts = imageOf(board);
    EXPECT_TRUE(boardFromImage(parts)->canTryMoves());

    parts.cells[parts.x[0].first] &= static_cast<uint8_t>(~ListedX);
    auto read = boardFromImage(parts);
    EXPECT_FALSE(read->canTryMoves());
    Board unpacked;
    unpackBoard(*packBoard(*read), unpacked);
    EXPECT_FALSE(unpacked.canTryMoves());
}

}  // namespace
