#pragma once
#include <cstdint>

#include "board/board.h"

constexpr int32_t WinValue = 20000;

// The static value of a Board for its side to move.
int32_t scorePosition(const Board& board);
