#pragma once
#include <cstdint>

#include "protocol/game_session.h"

constexpr int32_t TurnSearchDepth = 7;
constexpr int NoMove = -1;

// moveDeadline for a reply begun now: the budget less the reserve.
void setMoveDeadline(const GameSession& game);

// START: a new game as in a fresh process, the engine playing side 1.
void startNewGame(GameSession& game);

// Each returns the cell it played, or NoMove when no empty cell was left.
int beginGame(GameSession& game);
int answerMove(GameSession& game, int x, int y);
// The engine's move for the position; plays nothing. Always an empty cell
// while one exists.
int chooseMove(GameSession& game);
// yxnbest: the `count` best moves for the position, one analysis block each,
// best first; returns the best of them (NoMove when no empty cell is left)
// and plays nothing.
int chooseBestMoves(GameSession& game, int count);
