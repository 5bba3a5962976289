#pragma once
#include "board/board.h"

// The forced-move analysis, the engine's only move generator. Leaves its
// moves in resultCells/resultCount (board/shared_state.h) and returns +1 (the
// side to move wins), -1 (it is lost) or 0.
int analyse(Board& board, int mode);
