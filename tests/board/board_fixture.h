#pragma once
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "board/board.h"
#include "board/line_patterns.h"
#include "board/shared_state.h"

// The totals, counters, side and key of two Boards, equal in both.
inline void expectSameFields(const Board& a, const Board& b, const char* what) {
    EXPECT_EQ(a.xScore, b.xScore) << what;
    EXPECT_EQ(a.oScore, b.oScore) << what;
    EXPECT_EQ(a.savedScore, b.savedScore) << what;
    EXPECT_EQ(a.moveCount, b.moveCount) << what;
    EXPECT_EQ(a.lastMove, b.lastMove) << what;
    EXPECT_EQ(a.sideToMove, b.sideToMove) << what;
    EXPECT_EQ(a.positionKey, b.positionKey) << what;
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
    board.savedScore = board.sideToMove ? board.xScore : board.oScore;
    board.cells[cell] = static_cast<uint8_t>((board.cells[cell] & 0x3F) | (board.sideToMove ? StoneX : StoneO));
    board.lines.place(cell, board.sideToMove ? PointX : PointO);
    ++board.moveCount;
    board.lastMove = cell;
    board.xThreats.update(cell, NoThreat, board.cells, ListedX, board.xScore);
    board.oThreats.update(cell, NoThreat, board.cells, ListedO, board.oScore);
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
    board.sideToMove = static_cast<uint8_t>(1 - board.sideToMove);
    board.positionKey ^= key(board.sideToMove, cell);
}
