#pragma once
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "board/board.h"
#include "board/line_patterns.h"
#include "board/shared_state.h"

// The totals, counters, side and key of two Boards, equal in both.
inline void expectSameFields(const Board& a, const Board& b, const char* what) {
    EXPECT_EQ(a.xScore_, b.xScore_) << what;
    EXPECT_EQ(a.oScore_, b.oScore_) << what;
    EXPECT_EQ(a.savedScore_, b.savedScore_) << what;
    EXPECT_EQ(a.moveCount_, b.moveCount_) << what;
    EXPECT_EQ(a.lastMove_, b.lastMove_) << what;
    EXPECT_EQ(a.sideToMove_, b.sideToMove_) << what;
    EXPECT_EQ(a.positionKey_, b.positionKey_) << what;
}

// Everything a reader can see of a Board (the lists in their order), equal in both.
inline void expectSameBoard(const Board& a, const Board& b, const char* what) {
    a.xThreats.settle();
    a.oThreats.settle();
    b.xThreats.settle();
    b.oThreats.settle();
    for (int c = 0; c < CellCount; ++c) ASSERT_EQ(a.cells[c], b.cells[c]) << what << ": cell " << c;
    for (auto [x, y] : {std::pair{&a.xThreats, &b.xThreats}, std::pair{&a.oThreats, &b.oThreats}}) {
        ASSERT_EQ(x->count, y->count) << what;
        for (int i = 0; i < x->count; ++i) {
            ASSERT_EQ(x->cells[i], y->cells[i]) << what << ": entry " << i;
            ASSERT_EQ(x->classes[i], y->classes[i]) << what << ": entry " << i;
        }
    }
    expectSameFields(a, b, what);
}

// Moves that crowd the middle, so that threats of every class turn up.
inline int randomMove(const Board& board, std::mt19937& rng) {
    int cell;
    do {
        cell = cellAt(4 + static_cast<int>(rng() % 12), 4 + static_cast<int>(rng() % 12));
    } while (!isEmptyByte(board.cells[cell]));
    return cell;
}

// makeMove as a sequence of single-cell list updates in ray order, stopping
// each ray at the first stone of the second colour: the order that the
// engine's batched and deferred list updates must reproduce.
inline void referenceMove(Board& board, int cell) {
    board.savedScore_ = board.sideToMove_ ? board.xScore_ : board.oScore_;
    board.cells[cell] = static_cast<uint8_t>((board.cells[cell] & 0x3F) | (board.sideToMove_ ? StoneX : StoneO));
    board.lines.place(cell, board.sideToMove_ ? PointX : PointO);
    ++board.moveCount_;
    board.lastMove_ = cell;
    board.xThreats.update(cell, NoThreat, board.cells, ListedX, board.xScore_);
    board.oThreats.update(cell, NoThreat, board.cells, ListedO, board.oScore_);
    for (int d : {0, 1, 2, 3, 4, 5, 7, 6}) {
        bool seenX = false, seenO = false;
        for (int k = 1, p = cell + ReachSteps[d]; k <= reachCount(d, cell); ++k, p += ReachSteps[d]) {
            const uint8_t v = board.cells[p];
            if (isEmptyByte(v)) {
                board.evaluateCell(p);
            } else if (isXByte(v)) {
                if (seenO) break;
                seenX = true;
            } else {
                if (seenX) break;
                seenO = true;
            }
        }
    }
    ++nodeCounter;
    board.sideToMove_ = static_cast<uint8_t>(1 - board.sideToMove_);
    board.positionKey_ ^= key(board.sideToMove_, cell);
}
