#pragma once
#include <cstdint>
#include <vector>

#include "knowledge/node_record.h"

// A child of the current node, with the games stored below it: the lines
// that end in its subtree, by the outcome class of their last node.
struct Continuation {
    int move = -1;  // normalised cell
    NodeStats stats;
    int32_t gamesByClass[4] = {};
    bool counted = true;  // false: the read budget ran out, the counts are lower bounds

    int64_t games() const { return int64_t(gamesByClass[0]) + gamesByClass[1] + gamesByClass[2] + gamesByClass[3]; }
};

// Which stored child the side to move replays, given the children of its node
// in chain order: the index of the chosen child, or -1 when none is worth
// replaying. At the root the first stored first move is taken as it is.
int chooseReply(const std::vector<NodeStats>& children, bool atRoot, bool secondToMove);

// Every stored line ends in a win of one side (a game nobody won counts as
// the first player's), so a child that the side to move did not win, whole or
// cut, it lost: the other side had an answer to everything it stored below.
bool lostFor(const NodeStats& child, bool secondToMove);

// A child whose every stored game the side to move lost: lost by its class,
// and no game stored below it won by that side. A child lost by its class
// that still holds a game the side to move won is lost only further down,
// where the other side answered differently; the turn there avoids it. With
// the read budget run out the count may be short, and the class decides.
bool lostEveryGame(const Continuation& child, bool secondToMove);

// Among children that the side to move all lost, the one to try again: the
// loss that came latest (the longest stored line), then the least tried, then
// the earliest listed. -1 for an empty list.
int latestLoss(const std::vector<Continuation>& lost);
