#pragma once
#include <cstdint>
#include <vector>

#include "board/board.h"
#include "search/search_context.h"

// What one search of a position found, for the lines that show it.
struct SearchReport {
    int32_t value = 0;           // for the side to move; +-WinValue is a proved win or loss
    int32_t staticValue = 0;     // scorePosition of the searched position
    int32_t nodes = 0;           // moves the search played
    int32_t timeMs = 0;
    int32_t depth = 0;           // the depth asked for
    int32_t selectiveDepth = 0;  // the most moves on one line, forced replies included
    int best = -1;               // the search's move
    std::vector<int> line;       // the principal variation; line[0] is best
    bool blockShown = false;     // its INFO PV block was written while the search ran
};

// The turn's search: a copy of board searched to depth against the context's
// moveDeadline, its node counter reset first. Throws std::bad_alloc, with
// nothing searched, when no copy can be made.
SearchReport searchPosition(SearchContext& context, Board& board, int32_t depth);

// Every move the search would try in the position (at most MaxCandidates),
// each searched to the depth as the first move of a turn's search is, best
// value first (ties in the search's order): its report holds its own value,
// nodes, time and line. Throws std::bad_alloc when no copy can be made.
std::vector<SearchReport> searchRootMoves(SearchContext& context, Board& board, int32_t depth);

// The moves the search would try first in the position: the forced-move
// analysis' list, at most MaxCandidates, empty cells only.
std::vector<int> rootMoves(SearchContext& context, const Board& board);

// One root move searched as the first move of a turn's search is (onlyMove:
// the position has no other, which costs the root no depth): its value for
// the side to move at board, nodes, time and line, the move first. Throws
// std::bad_alloc when no copy can be made.
SearchReport searchRootMove(SearchContext& context, Board& board, int cell, int32_t depth, bool onlyMove);
