#pragma once
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "search/search_context.h"

constexpr int BenchDepth = 5;

// Searches the fixed bench positions without a deadline and reports nodes,
// time and speed per position and in total; returns the total node count,
// which depends only on the move generator and the search.
int64_t runBench(std::ostream& out);

// A position of a position set: the moves from the empty board, and the
// answer recorded for it (the search line value|score|nodes and the move of
// "best", as x,y), empty when none was recorded.
struct SetPosition {
    std::vector<int> moves;
    std::string expectedLine;
    std::string expectedMove;
};

// Reads a position set: per line the moves as x,y, then optionally " = " and
// the recorded line and move; '#' starts a comment line. False with `error`
// naming the line when the file cannot be read or a line is malformed
// (a point off the board or played twice, a recorded answer of the wrong form).
bool readPositionSet(const std::string& path, std::vector<SetPosition>& positions, std::string& error);

// What "best" answers on the position after a search of this depth without a
// deadline: the search line value|score|nodes, the move as x,y, and the time.
struct SetAnswer {
    std::string line;
    std::string move;
    int32_t nodes = 0;
    double ms = 0;
};
SetAnswer searchSetPosition(SearchContext& context, const SetPosition& position, int depth);

// Searches every position of a set at the depth, reports each answer beside
// the recorded one and the speed in total. Returns the number of positions
// whose answer differs from the recorded one, or -1 when the set cannot be read.
int runPositionBench(std::ostream& out, const std::string& path, int depth);
