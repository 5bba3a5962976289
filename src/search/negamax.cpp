#include "search/negamax.h"

#include <memory>
#include <new>
#include <vector>

#include "board/analysis.h"
#include "platform/clock.h"
#include "search/static_value.h"

namespace {

struct SearchNesting {
    NegamaxState& state;
    explicit SearchNesting(NegamaxState& s) : state(s) {
        state.lineLength[state.nesting] = 0;
        if (state.nesting > state.deepestNesting) state.deepestNesting = state.nesting;
        ++state.nesting;
    }
    ~SearchNesting() { --state.nesting; }
};

// The node at nesting p takes the move and the line its child just found.
void takeChildLine(NegamaxState& s, int p, int cell) {
    s.lineCells[p][0] = int16_t(cell);
    const int childLength = p + 1 < NegamaxState::MaxNesting ? s.lineLength[p + 1] : 0;
    const int length = childLength < CellCount - 1 ? childLength : CellCount - 1;
    for (int i = 0; i < length; ++i) s.lineCells[p][i + 1] = s.lineCells[p + 1][i];
    s.lineLength[p] = length + 1;
}

// The clock is read at the outermost node and then at every 16th node that
// asks: a reading costs more than a node, and 16 nodes take well under the
// clock's millisecond, so the search still stops within about a millisecond
// of the deadline. Once it has passed, every later node is a leaf.
constexpr int ClockReadInterval = 16;

bool pastDeadline(SearchContext& context) {
    NegamaxState& s = context.negamax;
    if (s.deadlinePassed) return true;
    if (--s.nodesUntilClockRead > 0) return false;
    s.nodesUntilClockRead = ClockReadInterval;
    s.deadlinePassed = platform::clockDiff(platform::clockMs(), context.moveDeadline) >= 0 ||
                       (context.nodeLimit > 0 && context.nodeCounter >= context.nodeLimit);
    return s.deadlinePassed;
}

bool isLeaf(SearchContext& context, const Board& board, int32_t value, int32_t depth) {
    if (value >= WinValue || value <= -WinValue) return true;
    if (depth < 1) return true;
    if (pastDeadline(context)) return true;
    return board.moveCount() == LeafStoneCount;
}

// An empty list leaves `best` as it was rather than hand out a stale cell.
void suggestFirstListed(SearchContext& context, const Board& board, int32_t& best) {
    analyse(board, context.analysis);
    if (context.analysis.resultCount > 0) best = context.analysis.resultCells[0];
}

struct NestingGuard {
    size_t& childNesting;
    explicit NestingGuard(size_t& nesting) : childNesting(nesting) { ++childNesting; }
    ~NestingGuard() { --childNesting; }
};

// A child that cannot be built for want of memory gets no value: it is passed
// over like the children a deadline never reaches.
bool searchChild(SearchContext& context, Board& board, int cell, int32_t depth, int32_t bound, int32_t& value) {
    NegamaxState& s = context.negamax;
    int32_t scratch = 0;
    if (depth - 1 < 1 && board.canTryMoves()) {
        // A child at depth 0 only reads its static value: mostly worked out
        // without the move, else played here and taken back.
        if (int32_t leaf; scoreAfterMove(board, cell, leaf)) {
            ++context.nodeCounter;  // as the move would count
            const SearchNesting asTheChild(s);
            value = -leaf;
            return true;
        }
        const TrialMove trial(board, cell);
        ++context.nodeCounter;
        value = -search(context, scratch, board, depth - 1, -bound);
        return true;
    }
    // A copy's subtree nests only further copies, so the next child at the
    // same nesting reuses the slot: the search copies without allocating.
    try {
        if (s.childNesting == s.childBoards.size()) {
            s.childBoards.push_back(std::make_unique<Board>());
            s.childBoards.back()->deferLayouts(true);  // most children are leaves
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    Board& copy = *s.childBoards[s.childNesting];
    NestingGuard nested(s.childNesting);
    copyBoard(board, copy);
    copy.makeMove(cell);
    ++context.nodeCounter;
    value = -search(context, scratch, copy, depth - 1, -bound);
    return true;
}

}  // namespace

int32_t search(SearchContext& context, int32_t& best, Board& board, int32_t depth, int32_t bound) {
    NegamaxState& s = context.negamax;
    if (s.nesting == 0) {
        if (!s.lineCells) s.lineCells = std::make_unique<NegamaxState::LineRow[]>(NegamaxState::MaxNesting);
        s.deepestNesting = 0;
        s.nodesUntilClockRead = 0;
        s.deadlinePassed = false;
    }
    const int p = s.nesting;
    const SearchNesting nested(s);
    const int32_t staticValue = scorePosition(board);
    if (isLeaf(context, board, staticValue, depth)) {
        if (best != 0) suggestFirstListed(context, board, best);
        return staticValue;
    }

    int32_t bestValue = -WinValue;
    const AnalysisResult& listed = context.analysis;
    analyse(board, context.analysis);
    const int n = listed.resultCount < MaxCandidates ? listed.resultCount : MaxCandidates;
    int32_t candidates[MaxCandidates];
    for (int i = 0; i < n; ++i) candidates[i] = listed.resultCells[i];
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
            ++context.nodeCounter;
            int32_t scratch = 0;
            value = -search(context, scratch, board, depth, -bound);
        } else if (!searchChild(context, board, candidates[i], depth, bound, value)) {
            continue;
        }
        anyValue = true;
        // The first candidate is the best move until another beats it, so
        // its line stands until then, a lost one too.
        if (value > bestValue || i == 0) takeChildLine(s, p, candidates[i]);
        if (value > bestValue) {
            bestValue = value;
            best = candidates[i];
            if (value >= WinValue) return value;
        }
    }
    // Not one child could be built: the node counts as a leaf.
    return anyValue ? bestValue : staticValue;
}

std::vector<int> principalVariation(const SearchContext& context) {
    const NegamaxState& s = context.negamax;
    if (!s.lineCells) return {};
    return std::vector<int>(s.lineCells[0], s.lineCells[0] + s.lineLength[0]);
}

int32_t selectiveDepth(const SearchContext& context) { return context.negamax.deepestNesting; }
