#pragma once
#include <cstdint>
#include <iostream>
#include <string>

#include "search/search_context.h"

// Runs the proof-number search over every board image of node files first..last
// (inclusive), giving each position timeoutTurn ms of search beyond the margin
// (the context's moveDeadline is set for each).
// Exceptions from a search propagate with the file closed and the graph deleted.
void statisticsRun(SearchContext& context, int first, int last, int32_t timeoutTurn, std::ostream& out = std::cout);
