#pragma once
#include <cstdint>
#include <vector>

#include "board/board.h"
#include "search/search_context.h"

// yxbalanceone / yxbalancetwo: `count` stones (one for the side to move; with
// two, then one for the other side) that bring the engine's value nearest to
// `target`, the value for the side to move in the given position once the
// stones stand. The placements (a lone stone anywhere, a pair within two
// points of the stones) are ranked by the static value they leave and
// searched in that order, a turn's search each, until
// the context's moveDeadline (the first always is); the nearest searched one is taken.
struct Balance {
    std::vector<int> stones;  // empty cells, in the order they are played; none on a full board
    int32_t value = 0;        // the search's value once they stand, for the side to move before them
    int searched = 0;         // placements searched
};
Balance balanceStones(SearchContext& context, const Board& board, int count, int32_t target);

// Placements searched at most: a GUI with unlimited time still gets its answer.
constexpr int MaxBalanceSearches = 120;
