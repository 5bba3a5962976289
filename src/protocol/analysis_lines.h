#pragma once
#include <cstdint>
#include <ostream>
#include <string>

#include "board/board.h"
#include "search/turn_search.h"

// What analysis GUIs draw from a search, in Yixin-Board's words: one
// "INFO PV i" ... "INFO PV DONE" block per analysed root move, the best-move
// mark, and a readable summary line. `root` is the searched position.

// The line's moves as x,y, separated by blanks.
std::string lineText(const SearchReport& report);

// Plies from the root to the five of a proved line (a win when the value is
// WinValue, a loss when it is -WinValue); 0 for a value that proves nothing.
int32_t provedDistance(const Board& root, const SearchReport& report);

// "+M n" / "-M n" for a proved line, else the value.
std::string evalText(const Board& root, const SearchReport& report);

void writePvBlock(std::ostream& out, int index, int count, const Board& root, const SearchReport& report);
// "MESSAGE REALTIME BEST x,y" and the summary line.
void writeBestAndSummary(std::ostream& out, const Board& root, const SearchReport& report);
