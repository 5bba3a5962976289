#pragma once
#include <cstdint>

#include "board/board.h"

constexpr int MaxCandidates = 20;
constexpr int LeafStoneCount = 398;

// Negamax over the forced-move analysis' moves of `board`, from its side to
// move's point of view. `best` != 0 on entry asks a leaf to suggest a move too;
// on return it holds this call's best move. The call may play on `board`.
int32_t search(int32_t& best, Board& board, int32_t depth, int32_t bound);
