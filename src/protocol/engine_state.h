#pragma once
#include <ostream>

#include "protocol/game_session.h"

// Records read below a node to count the games stored under its children;
// a deeper tree shows lower bounds.
constexpr int32_t ContinuationReadBudget = 20000;

// The "state" command: the position as the engine sees it, on one JSON line:
// the stones, the side to move, both threat lists with their classes, the
// forced-move analysis' listed moves, the last move choice, and the
// experience database's node with its stored continuations. Reads only.
void writeEngineState(GameSession& game, std::ostream& out);
