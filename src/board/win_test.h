#pragma once
#include "board/board.h"

// +1 the side to move has a won position, -1 a lost one, 0 undecided.
// Reads only the two threat lists; leaves both cursors moved.
int winTest(Board& board, int mode);
