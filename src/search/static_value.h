#pragma once
#include <cstdint>

#include "board/board.h"

constexpr int32_t WinValue = 20000;

// The static value of a Board for its side to move.
int32_t scorePosition(const Board& board);
// scorePosition of the position the move leads to, worked out without
// playing it (a search counts it as a move); false when only playing it
// tells. Precondition: cell is empty.
bool scoreAfterMove(const Board& board, int cell, int32_t& value);
