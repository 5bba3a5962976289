#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "board/board.h"
#include "search/search_context.h"
#include "search/transposition_table.h"
#include "search/turn_search.h"

// The most plies one line of the deeper search holds; a line that long ends
// in a leaf. Single forced replies cost no depth only within the first half.
constexpr int MaxPly = 128;
constexpr int FreeExtensionPlies = MaxPly / 2;

// How far and how long one turn's deeper search may go.
struct SearchLimits {
    int32_t maxDepth = 7;
    int32_t maxNodes = 0;  // a cap on the turn's nodes; 0 for none
};

// What a running search tells whoever shows it; each may be left empty.
struct SearchListener {
    // An iteration of the given depth begins.
    std::function<void(int32_t depth)> iterationStarted;
    // A root move is entered, and left with its value (for its mover).
    std::function<void(int cell)> rootMoveStarted;
    std::function<void(int cell, int32_t value)> rootMoveDone;
    // The best move of the iteration under way changed (line[0] is the move).
    std::function<void(const SearchReport&)> bestChanged;
    // An iteration finished; its report is the turn's answer so far.
    std::function<void(const SearchReport&)> iterationDone;
};

// Everything one deeper search works with beside the turn's context (its
// deadline, node counter and analysis list): its limits, stop flag, the
// table it keeps between turns and the per-ply scratch (lines, saved lists,
// killer moves), with the history of moves that cut off. One object per
// game session, reused turn after turn.
struct DeepSearchContext {
    // The deadline (turn.moveDeadline) and the node counter are the turn's.
    SearchContext turn;
    // The table keeps its entries from turn to turn; its size and clearing
    // are the session's to decide.
    TranspositionTable table;

    // Set for each search.
    int32_t startedMs = 0;
    SearchLimits limits;
    // Asked now and then while the search runs: true when it must stop now
    // (a GUI's stop). Empty: nothing to ask.
    std::function<bool()> stopRequested;
    SearchListener listener;

    // Kept by the search.
    bool stopped = false;       // the deadline, the node cap or a stop ended it
    bool stoppedByRequest = false;
    int32_t selectiveDepth = 0;
    int64_t tableProbes = 0, tableHits = 0;
    int checksUntilClock = 0;
    uint64_t keyOffset = 0;     // turns a Board's key into the key of its stones

    // Per ply: the best line from there, the lists saved for taking a move
    // back, and the two moves that cut off last.
    int16_t line[MaxPly + 1][MaxPly + 1];
    int lineLength[MaxPly + 1];
    Board::SavedLists savedLists[MaxPly + 1];
    int16_t killers[MaxPly + 1][2];
    int32_t history[2][CellCount];

    // A new search from `root`: clears the per-search state, keeps the table.
    void beginSearch(const Board& root);
};

// The turn's search when a level asks for more than the tournament depth 7:
// iterative deepening from depth 7, whose first iteration is searchPosition
// at depth 7 (a short budget gives exactly that answer), then alpha-beta with
// a principal-variation window, the table and killer/history ordering over
// the forced-move analysis' moves, one depth more an iteration while the
// next one is expected to finish before ctx.turn.moveDeadline.
// ctx.turn.moveDeadline, startedMs, limits, listener and stopRequested are
// the caller's; `board` is not changed.
SearchReport searchDeeper(Board& board, DeepSearchContext& ctx);

// The same for the `count` best moves (yxnbest, or every root move where a
// stored line may be avoided): the first iteration is searchRootMoves at
// depth 7, and each deeper one gives the best `count` moves exact values and
// lines. Every root move's report, best value first; those below the first
// `count` hold bounds only.
std::vector<SearchReport> searchDeeperBest(Board& board, DeepSearchContext& ctx, int count);

// One iteration's alpha-beta value of `board` at `depth` for its side to
// move, with or without the table (tests compare the two); nothing stops it
// but ctx.turn.moveDeadline.
int32_t searchFixedDepth(Board& board, DeepSearchContext& ctx, int32_t depth, bool useTable, int& best);
