#pragma once
#include "board/board.h"

// +1 the side to move has a won position, -1 a lost one, 0 undecided.
// Reads only the two threat lists, without laying them out.
int winTest(const Board& board);
