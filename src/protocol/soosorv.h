#pragma once
#include <string>
#include <vector>

#include "protocol/game_session.h"

// Soosõrv-8 as Yixin-Board drives it when the engine plays the opening's
// part: black opens with one of the 26 standard three-stone openings, white
// may swap, white plays the fourth stone and names N (1 to 8), black may
// swap, black offers N fifth stones that no symmetry of the position makes
// the same, and white picks one of them. Every choice comes from the
// engine's search within the turn's time; the game's own Board is not touched.

constexpr int SoosorvMaxFifths = 8;

// The lines Yixin-Board waits for at each step, `stones` being the block it
// sent (black first) and `fifths` the N it named:
//  1  (no stones, the engine opens)  "MESSAGE SOOSORV MOVE1 x y" to MOVE3
//  2  (3 stones, the engine is white) "MESSAGE SOOSORV SWAP1 YES" (it takes black) or "... NO"
//  3  (3 stones, white)               "MESSAGE SOOSORV MOVE4 x y N"
//  4  (4 stones, black)               "MESSAGE SOOSORV SWAP2 YES" (it takes white) or "... NO"
//  5  (4 stones, black)               "MESSAGE SOOSORV MOVE5 REFRESH", N times "... MOVE5 x y", "... MOVE5 DONE"
//  6  (4 stones and the offered fifths, white)  "MESSAGE SOOSORV MOVE5C x y": the fifth it keeps
// Stones that do not fit the step get one "ERROR " line.
std::vector<std::string> soosorvStepLines(GameSession& game, int step, int fifths, const std::vector<int>& stones);

// The cells among `cells` left after dropping each one that a symmetry of
// the stones (a turn or mirror of the board and a shift that takes every
// stone onto one of its colour) maps onto an earlier one.
std::vector<int> withoutSymmetricTwins(const std::vector<int>& stones, const std::vector<int>& cells);
