#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "board/analysis.h"
#include "board/board.h"
#include "platform/clock.h"

// The negamax's own bookkeeping while it runs (negamax.cpp); kept in the
// context so that nothing of a search outlives its runner.
struct NegamaxState {
    // Each nesting plays one more stone, so no line holds more moves than the
    // board has cells, and no search nests deeper than that.
    static constexpr int MaxNesting = CellCount + 1;
    using LineRow = int16_t[CellCount];
    // The best line by nesting: row p holds the best line found so far below
    // the node at nesting p, row p + 1 the line of the child being searched.
    // Allocated by the first search.
    std::unique_ptr<LineRow[]> lineCells;
    int lineLength[MaxNesting] = {};
    int nesting = 0;
    int deepestNesting = 0;
    // The clock is read every ClockReadInterval nodes; once the deadline has
    // passed every later node is a leaf.
    int nodesUntilClockRead = 0;
    bool deadlinePassed = false;
    // Child Boards, one per copy nested on the stack, each allocated once.
    std::vector<std::unique_ptr<Board>> childBoards;
    size_t childNesting = 0;
};

// The state of one search run: a turn's, a bench position's, a position of
// the statistics run. Whoever runs a search owns one and passes it down;
// the searches keep nothing process-wide. One search at a time per context.
// A search with more state of its own (a table, a stop flag) keeps it beside
// one of these, holding it as a member.
struct SearchContext {
    // The clock reading at which the searches turn nodes into leaves.
    int32_t moveDeadline = 0;
    // The moves the search played, trial moves and leaves valued without
    // playing included; the runner resets it before a search.
    int32_t nodeCounter = 0;
    // A level's cap on nodeCounter: once reached every node is a leaf, as
    // past moveDeadline. 0 for none; whoever sets one takes it back.
    int32_t nodeLimit = 0;
    // The result list of the last forced-move analysis run in this context:
    // overwritten by every analysis, so searches copy it before they nest.
    AnalysisResult analysis;
    // The negamax's best line (see principalVariation) and scratch.
    NegamaxState negamax;

    // Milliseconds until moveDeadline (negative once it has passed).
    int32_t msBeforeDeadline() const { return platform::clockDiff(moveDeadline, platform::clockMs()); }
    // Whether the clock has reached moveDeadline: work that would go on past
    // it stops, and a search that ran into it holds leaves, not searched values.
    bool deadlinePassed() const { return msBeforeDeadline() <= 0; }
};
