#pragma once
#include <cstdint>

#include "protocol/game_session.h"

constexpr int32_t TurnSearchDepth = 7;
constexpr int NoMove = -1;

// START: a new game as in a fresh process, the engine playing side 1.
void startNewGame(GameSession& game);

// Each returns the cell it played, or NoMove when no empty cell was left.
int beginGame(GameSession& game);
int answerMove(GameSession& game, int x, int y);
// The engine's move for the position; plays nothing. Always an empty cell
// while one exists.
int chooseMove(GameSession& game);
