#pragma once
#include <cstdint>

#include "protocol/game_session.h"

constexpr int32_t ReplyReserveMs = 200;  // held back for writing the reply
constexpr int32_t TurnSearchDepth = 7;
constexpr int NoMove = -1;

// min(timeoutTurn, timeLeft / 6) in milliseconds.
int32_t turnBudget(const GameSession& game);
// How long a store after a reply waits for another process's store: a tenth
// of the turn, and never long enough to hold up the reading of the next turn.
int32_t storeWaitLimit(const GameSession& game);
// The session's search.moveDeadline for a reply begun at startedMs, a clock
// reading: the budget less the reserve.
void setMoveDeadline(GameSession& game, int32_t startedMs);
// The same for a reply begun now.
void setMoveDeadline(GameSession& game);
// The session's search.moveDeadline for a GUI's opening stones, worked out
// while the GUI runs the human's clock: a quarter of the turn's budget, the
// reserve held back.
void setOpeningDeadline(GameSession& game);

// START: a new game as in a fresh process, the engine playing side 1.
void startNewGame(GameSession& game);

// Each returns the cell it played, or NoMove when no empty cell was left.
int beginGame(GameSession& game);
int answerMove(GameSession& game, int x, int y);
// The engine's move for the position; plays nothing. Always an empty cell
// while one exists. The time budget runs from startedMs, a clock reading.
int chooseMove(GameSession& game, int32_t startedMs);
// The same with the budget running from now.
int chooseMove(GameSession& game);
// yxnbest: the `count` best moves for the position, one analysis block each,
// best first; returns the best of them (NoMove when no empty cell is left)
// and plays nothing.
int chooseBestMoves(GameSession& game, int count);
