#pragma once
#include <string>
#include <vector>

#include "protocol/game_session.h"

// SWAP2BOARD: the reply to the stones placed so far (black, white, black,
// ...), chosen by the engine's search within the turn's time: with none, a
// three-stone opening it finds balanced ("x,y x,y x,y"); with three, "SWAP"
// (it takes black), the fourth stone, or the fourth and fifth for the
// opponent to choose from; with five, "SWAP" or the sixth stone. Any other
// count, or a stone off the board or on another, gets an "ERROR " line.
// The game's own Board is not touched.
std::string swap2Reply(GameSession& game, const std::vector<int>& stones);
