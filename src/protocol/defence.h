#pragma once
#include <cstdint>

#include "protocol/game_session.h"

// yxsearchdefend: every move the forced-move analysis lists for the side to
// move (against the opponent's threats, its defences and its own counters),
// each searched as a turn's first move is, the whole list again two plies
// deeper while the next round is expected to end within the turn's time.
// While it searches it writes Yixin-Board's marks: "MESSAGE REALTIME REFRESH"
// before each round, "... POS x,y" as a move is entered, then "... LOSE x,y"
// for a move proved lost (it stays lost) or "... DONE x,y" for one that
// holds, and "... BEST x,y" when the best defence changes. Returns the best
// defence of the last whole round (-1 on a full board); plays nothing.
int searchDefence(GameSession& game);

// The deepest round: each costs some tens of times the one before.
constexpr int32_t MaxDefenceDepth = 13;
