#pragma once
#include <cstdint>
#include <vector>

#include "board/board.h"
#include "search/search_context.h"

constexpr int MaxCandidates = 20;
constexpr int LeafStoneCount = 398;

// Negamax over the forced-move analysis' moves of `board`, from its side to
// move's point of view, against context.moveDeadline, counting its moves in
// context.nodeCounter. `best` != 0 on entry asks a leaf to suggest a move
// too; on return it holds this call's best move. The call may play on `board`.
int32_t search(SearchContext& context, int32_t& best, Board& board, int32_t depth, int32_t bound);

// The line behind the value of the context's last outermost search() call,
// from the position it searched: every move legal in turn, the first its best
// move, the last leading to the leaf whose value came up. Empty when the
// position itself was a leaf.
std::vector<int> principalVariation(const SearchContext& context);
// The most moves that call played on one line, forced replies included.
int32_t selectiveDepth(const SearchContext& context);
