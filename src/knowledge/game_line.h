#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Where a game's moves stop being stored, and why. A game is stored from its
// first move up to the first move near the edge or the first move whose key
// does not give the move back (keys do not tell far-apart offsets apart);
// a game too short, or opened near the edge, is not stored at all.
struct LineCut {
    enum class Reason { None, TooShort, FirstNearEdge, NearEdge, NoKey };
    Reason reason = Reason::None;
    int32_t moveIndex = 0;  // of the first move not stored, from 0; the length when too short
    int32_t cell = -1;      // that move

    bool refused() const { return reason == Reason::TooShort || reason == Reason::FirstNearEdge; }
    // Why, in words that follow a report line; empty for a whole game.
    std::string words() const;
};

// Replaces the moves of a judged game by the keys of the stored line,
// dropping the moves from the cut on; moves are left as they were when the
// game is refused.
LineCut prepareLine(std::vector<int32_t>& moves);
