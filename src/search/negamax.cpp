#include "search/negamax.h"

#include <memory>
#include <new>
#include <vector>

#include "board/analysis.h"
#include "board/shared_state.h"
#include "platform/clock.h"
#include "search/shared_state.h"
#include "search/static_value.h"

namespace {

// The principal variation, one row per nesting of search(): row p holds the
// best line found so far below the node at nesting p, row p + 1 the line of
// the child being searched. Every nesting plays one more stone, so a row
// never holds more moves than the board has cells.
constexpr int MaxNesting = CellCount + 1;
int16_t lineCells[MaxNesting][CellCount];
int lineLength[MaxNesting];
int nesting = 0;
int deepestNesting = 0;

struct SearchNesting {
    SearchNesting() {
        lineLength[nesting] = 0;
        if (nesting > deepestNesting) deepestNesting = nesting;
        ++nesting;
    }
    ~SearchNesting() { --nesting; }
};

// The node at nesting p takes the move and the line its child just found.
void takeChildLine(int p, int cell) {
    lineCells[p][0] = int16_t(cell);
    const int childLength = p + 1 < MaxNesting ? lineLength[p + 1] : 0;
    const int length = childLength < CellCount - 1 ? childLength : CellCount - 1;
    for (int i = 0; i < length; ++i) lineCells[p][i + 1] = lineCells[p + 1][i];
    lineLength[p] = length + 1;
}

// The clock is read at the outermost node and then at every 16th node that
// asks: a reading costs more than a node, and 16 nodes take well under the
// clock's millisecond, so the search still stops within about a millisecond
// of the deadline. Once it has passed, every later node is a leaf.
constexpr int ClockReadInterval = 16;
int nodesUntilClockRead = 0;
bool deadlinePassed = false;

bool pastDeadline() {
    if (deadlinePassed) return true;
    if (--nodesUntilClockRead > 0) return false;
    nodesUntilClockRead = ClockReadInterval;
    deadlinePassed = platform::clockDiff(platform::clockMs(), moveDeadline) >= 0;
    return deadlinePassed;
}

bool isLeaf(const Board& board, int32_t value, int32_t depth) {
    if (value >= WinValue || value <= -WinValue) return true;
    if (depth < 1) return true;
    if (pastDeadline()) return true;
    return board.moveCount() == LeafStoneCount;
}

// An empty list leaves `best` as it was rather than hand out a stale cell.
void suggestFirstListed(const Board& board, int32_t& best) {
    analyse(board);
    if (resultCount > 0) best = resultCells[0];
}

// Child Boards, one per copy nested on the stack: a copy's subtree nests only
// further copies, so the next child at the same nesting reuses the slot. A
// slot is allocated once, so the search itself copies without allocating.
std::vector<std::unique_ptr<Board>> childBoards;
size_t childNesting = 0;

struct NestingGuard {
    NestingGuard() { ++childNesting; }
    ~NestingGuard() { --childNesting; }
};

// A child that cannot be built for want of memory gets no value: it is passed
// over like the children a deadline never reaches.
bool searchChild(Board& board, int cell, int32_t depth, int32_t bound, int32_t& value) {
    int32_t scratch = 0;
    if (depth - 1 < 1 && board.canTryMoves()) {
        // A child at depth 0 only reads its static value: mostly worked out
        // without the move, else played here and taken back.
        if (int32_t leaf; scoreAfterMove(board, cell, leaf)) {
            const SearchNesting asTheChild;
            value = -leaf;
            return true;
        }
        const TrialMove trial(board, cell);
        value = -search(scratch, board, depth - 1, -bound);
        return true;
    }
    try {
        if (childNesting == childBoards.size()) {
            childBoards.push_back(std::make_unique<Board>());
            childBoards.back()->deferLayouts(true);  // most children are leaves
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    Board& copy = *childBoards[childNesting];
    NestingGuard nested;
    copyBoard(board, copy);
    copy.makeMove(cell);
    value = -search(scratch, copy, depth - 1, -bound);
    return true;
}

}  // namespace

int32_t search(int32_t& best, Board& board, int32_t depth, int32_t bound) {
    if (nesting == 0) {
        deepestNesting = 0;
        nodesUntilClockRead = 0;
        deadlinePassed = false;
    }
    const int p = nesting;
    const SearchNesting nested;
    const int32_t staticValue = scorePosition(board);
    if (isLeaf(board, staticValue, depth)) {
        if (best != 0) suggestFirstListed(board, best);
        return staticValue;
    }

    int32_t bestValue = -WinValue;
    analyse(board);
    const int n = resultCount < MaxCandidates ? resultCount : MaxCandidates;
    int32_t candidates[MaxCandidates];
    for (int i = 0; i < n; ++i) candidates[i] = resultCells[i];
    if (n <= 0) return -WinValue;
    best = candidates[0];

    const bool raisesBound = board.sideToMove() == 1;
    bool anyValue = false;
    for (int i = 0; i < n; ++i) {
        if (bestValue > bound) {
            if (!raisesBound) return bestValue;
            bound = bestValue;
        }
        int32_t value;
        if (n == 1) {
            try {
                board.makeMove(candidates[0]);
            } catch (const std::bad_alloc&) {
                return staticValue;
            }
            int32_t scratch = 0;
            value = -search(scratch, board, depth, -bound);
        } else if (!searchChild(board, candidates[i], depth, bound, value)) {
            continue;
        }
        anyValue = true;
        // The first candidate is the best move until another beats it, so
        // its line stands until then, a lost one too.
        if (value > bestValue || i == 0) takeChildLine(p, candidates[i]);
        if (value > bestValue) {
            bestValue = value;
            best = candidates[i];
            if (value >= WinValue) return value;
        }
    }
    // Not one child could be built: the node counts as a leaf.
    return anyValue ? bestValue : staticValue;
}

std::vector<int> principalVariation() { return std::vector<int>(lineCells[0], lineCells[0] + lineLength[0]); }

int32_t selectiveDepth() { return deepestNesting; }
