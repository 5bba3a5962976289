#pragma once
#include "board/board.h"

// +1 the side to move has a won position, -1 a lost one, 0 undecided.
// Reads only the two threat lists, without laying them out.
int winTest(const Board& board);

// The win test's answer from the strongest classes alone: a the side to
// move's (NoThreat for none), b the opponent's, and whether the opponent's
// two strongest entries are fives; NeedsEntries when the opponent's entries
// must be read.
constexpr int NeedsEntries = 2;
int winTestOfStrongest(int a, int b, bool opponentTwoFives);

// The win test of the position after cell, worked out from a probe of the
// move without playing it; the probe is left filled. NeedsEntries when only
// playing the move tells. Precondition: cell is empty.
int winTestAfterMove(const Board& board, int cell, Board::MoveProbe& probe);
