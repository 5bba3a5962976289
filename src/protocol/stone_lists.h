#pragma once
#include <memory>
#include <string>
#include <vector>

#include "board/board.h"
#include "protocol/game_session.h"
#include "protocol/input.h"

// Stones as the opening rules and the analysis words pass them around: cells
// in the order they were played, black first.

// A Board with the stones played in turn, black first, and side 1 to move
// after them: the engine judges every position as it plays its games.
std::unique_ptr<Board> boardOfStones(const std::vector<int>& stones);

// The game's stones in the order they were played.
std::vector<int> gameStones(const GameSession& game);

// Every cell on the board and none twice.
bool distinctPoints(const std::vector<int>& cells);

// The empty cell nearest to `centre` (rings outward, row by row within a
// ring), or -1 on a full board.
int nearestEmptyCell(const Board& board, int centre);

// A line "x,y" on the board as a cell, or -1; blanks are allowed anywhere.
int pointOfLine(std::string line);

// The lines up to the protocol's DONE as cells, -1 for a line that is no
// point; false when the input ended first.
bool readStoneBlock(ProtocolInput& input, std::vector<int>& cells);

// A cell the way the opening words write it: "x y".
std::string spacedCell(int cell);
