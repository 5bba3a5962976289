#pragma once
#include <cstdint>
#include <vector>

#include "knowledge/reply_policy.h"
#include "protocol/game_session.h"
#include "search/turn_search.h"

// The stored replies of the followed position that the side to move lost,
// when it won none: a turn does not play one of them again while the search
// offers another move.
struct LostLines {
    std::vector<int> cells;                  // board cells
    std::vector<Continuation> continuations;  // the same children, in the same order

    bool contains(int cell) const;
};

// Empty while the game is not followed, when a stored reply won, and when the
// file fails (which is reported, as when a reply is recommended).
LostLines lostLines(GameSession& game);

// The reply among the search's root moves, best value first: a win that the
// search proves; else the best one that no stored line lost, unless the
// search proves that it loses or (with a margin) it is worth more than margin
// less than the best lost one; else, when every listed move lost or without a
// margin, among the lost ones it lists the loss that came latest, then the
// least tried. An index into reports; -1 when none is listed, or when the
// search's own move is kept.
constexpr int32_t NoMargin = INT32_MAX;
int replyAvoidingLosses(const std::vector<SearchReport>& reports, const LostLines& lost, int32_t margin = NoMargin);
