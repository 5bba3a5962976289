#pragma once
#include <vector>

#include "knowledge/node_record.h"

// Which stored child the side to move replays, given the children of its node
// in chain order: the index of the chosen child, or -1 when none is worth
// replaying. At the root the first stored first move is taken as it is.
int chooseReply(const std::vector<NodeStats>& children, bool atRoot, bool secondToMove);
