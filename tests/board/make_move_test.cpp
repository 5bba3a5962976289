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
        deferred.deferLayout = true;
        for (int ply = 0; ply < 90; ++ply) {
            const int cell = randomMove(reference, rng);

            // A trial move on `undone`, read and taken back first.
            auto before = copyBoard(undone);
            auto child = copyBoard(reference);
            referenceMove(*child, cell);
            MoveUndo undo;
            undone.makeMove(cell, undo);
            EXPECT_EQ(undone.xScore_, child->xScore_);
            EXPECT_EQ(undone.oScore_, child->oScore_);
            auto childCopy = copyBoard(*child);
            ASSERT_EQ(winTest(undone, 0), winTest(*childCopy, 0)) << "game " << game << " ply " << ply;
            undone.undoMove(undo);
            ASSERT_NO_FATAL_FAILURE(expectSameBoard(undone, *before, "taken back"));

            eager.makeMove(cell);
            referenceMove(reference, cell);
            deferred.makeMove(cell);
            undone.makeMove(cell);
            ASSERT_EQ(winTest(deferred, 0), winTest(eager, 0)) << "game " << game << " ply " << ply;
            if (ply % 3 == 0) {
                ASSERT_NO_FATAL_FAILURE(expectSameBoard(deferred, reference, "deferred"));
            }
            ASSERT_NO_FATAL_FAILURE(expectSameBoard(eager, reference, "batched"));
            ASSERT_NO_FATAL_FAILURE(expectSameBoard(undone, reference, "after undoing"));
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
    ASSERT_GT(board.xThreats.count, 0);
    EXPECT_TRUE(board.canUndoMoves());
    std::FILE* file = std::tmpfile();
    ASSERT_TRUE(writeBoardImage(board, file));
    std::rewind(file);
    Board read;
    ASSERT_TRUE(readBoardImage(read, file));
    EXPECT_TRUE(read.canUndoMoves());

    board.cells[board.xThreats.cells[0]] &= static_cast<uint8_t>(~ListedX);
    std::rewind(file);
    ASSERT_TRUE(writeBoardImage(board, file));
    std::rewind(file);
    ASSERT_TRUE(readBoardImage(read, file));
    std::fclose(file);
    EXPECT_FALSE(read.canUndoMoves());
    Board unpacked;
    unpackBoard(*packBoard(read), unpacked);
    EXPECT_FALSE(unpacked.canUndoMoves());
}

}  // namespace
