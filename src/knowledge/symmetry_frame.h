#pragma once
#include <cstdint>

// How one game is translated, turned and mirrored onto the normalised board:
// the first move goes to 189, the second fixes the quarter turns, and each of
// the two reflections stays open while every move so far lies on its mirror line.
struct SymmetryFrame {
    int32_t originX = 0;  // 9 - x of the first move
    int32_t originY = 0;  // 9 - (19 - y) of the first move
    int32_t quarterTurns = 0;
    bool mirrored = false;
    bool axisSettled = false;
    bool swapped = false;
    bool diagonalSettled = false;
    int32_t movesSeen = 0;

    bool operator==(const SymmetryFrame&) const = default;
};

constexpr int NormalisedFirstMove = 189;

// Both raise DatabaseError instead of producing something unusable: a board
// cell outside 0..399, a second move on the first move's cell, a key outside
// 0..399, or (denormalise) a cell off the board. A refused call leaves the
// frame untouched.
int normalise(SymmetryFrame& frame, int cell);
int denormalise(const SymmetryFrame& frame, int key);
