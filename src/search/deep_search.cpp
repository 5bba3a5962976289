#include "search/deep_search.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "board/analysis.h"
#include "platform/clock.h"
#include "search/negamax.h"
#include "search/static_value.h"

namespace {

constexpr int32_t Infinite = WinValue + 1;  // beyond every value
// Interior nodes between two looks at the clock, the node cap and the input:
// a few hundred take well under a millisecond.
constexpr int StopCheckInterval = 256;
// The key of the side to move, so that a pass never meets its own position.
constexpr uint64_t SideKey = 0x9E3779B97F4A7C15ull;
// A proved value holds at any depth.
constexpr int ProvedDepth = 127;
constexpr int32_t HistoryCap = 1 << 20;

bool isProved(int32_t value) { return value >= WinValue || value <= -WinValue; }

uint64_t wideKey(PositionKey key) { return uint64_t{key.high} << 32 | key.low; }

bool mustStop(DeepSearchContext& ctx) {
    if (ctx.stopped) return true;
    if (--ctx.checksUntilClock > 0) return false;
    ctx.checksUntilClock = StopCheckInterval;
    if (ctx.limits.maxNodes > 0 && ctx.turn.nodeCounter >= ctx.limits.maxNodes) {
        ctx.stopped = true;
    } else if (platform::clockDiff(platform::clockMs(), ctx.turn.moveDeadline) >= 0) {
        ctx.stopped = true;
    } else if (ctx.stopRequested && ctx.stopRequested()) {
        ctx.stopped = ctx.stoppedByRequest = true;
    }
    return ctx.stopped;
}

// Negamax with both bounds (fail-soft, principal-variation windows) over the
// forced-move analysis' moves, on one Board that every move is played on
// and taken back from.
class AlphaBeta {
public:
    AlphaBeta(DeepSearchContext& ctx, Board& board, bool useTable) : ctx(ctx), board(board), useTable(useTable) {}

    int32_t search(int32_t depth, int32_t alpha, int32_t beta, int ply);
    // The value of playing `cell` at the root, searched to depth - 1 below it
    // (depth when the move is the only one) within (alpha, beta).
    int32_t searchRootMove(int cell, int32_t depth, int32_t alpha, int32_t beta);

private:
    uint64_t keyOf() const {
        const uint64_t key = wideKey(board.positionKey()) ^ ctx.keyOffset;
        return board.sideToMove() ? key ^ SideKey : key;
    }
    int32_t searchChild(int cell, int32_t depth, int32_t alpha, int32_t beta, int ply);
    void order(int* cells, int n, int tableMove, int ply) const;
    void takeLine(int ply, int cell);
    void noteCutoff(int ply, int cell, int32_t depth);

    DeepSearchContext& ctx;
    Board& board;
    const bool useTable;
};

void AlphaBeta::takeLine(int ply, int cell) {
    ctx.line[ply][0] = static_cast<int16_t>(cell);
    const int childLength = std::min(ctx.lineLength[ply + 1], MaxPly - 1);
    std::memcpy(&ctx.line[ply][1], ctx.line[ply + 1], sizeof(int16_t) * childLength);
    ctx.lineLength[ply] = childLength + 1;
}

void AlphaBeta::noteCutoff(int ply, int cell, int32_t depth) {
    int16_t* killers = ctx.killers[ply];
    if (killers[0] != cell) {
        killers[1] = killers[0];
        killers[0] = static_cast<int16_t>(cell);
    }
    int32_t& h = ctx.history[board.sideToMove()][cell];
    h = std::min(h + depth * depth, HistoryCap);
}

// The table's move first, then the killers, then the rest by history, ties
// in the analysis' order (its order carries what it knows of the threats).
void AlphaBeta::order(int* cells, int n, int tableMove, int ply) const {
    int32_t score[MaxCandidates];
    const int32_t* history = ctx.history[board.sideToMove()];
    for (int i = 0; i < n; ++i) {
        const int c = cells[i];
        score[i] = c == tableMove ? 3 * HistoryCap + 2 : c == ctx.killers[ply][0] ? 2 * HistoryCap + 2
                 : c == ctx.killers[ply][1] ? 2 * HistoryCap + 1 : history[c];
    }
    for (int i = 1; i < n; ++i) {
        const int c = cells[i];
        const int32_t s = score[i];
        int j = i;
        for (; j > 0 && score[j - 1] < s; --j) {
            cells[j] = cells[j - 1];
            score[j] = score[j - 1];
        }
        cells[j] = c;
        score[j] = s;
    }
}

int32_t AlphaBeta::searchChild(int cell, int32_t depth, int32_t alpha, int32_t beta, int ply) {
    if (depth < 1) {
        // A leaf only reads its static value: mostly worked out without the move.
        ctx.lineLength[ply + 1] = 0;
        ++ctx.turn.nodeCounter;  // played or not, a move
        if (int32_t leaf; scoreAfterMove(board, cell, leaf)) return -leaf;
        const TrialMove move(board, cell);
        return -search(depth, -beta, -alpha, ply + 1);
    }
    ++ctx.turn.nodeCounter;
    const TrialMove move(board, cell, ctx.savedLists[ply]);
    return -search(depth, -beta, -alpha, ply + 1);
}

int32_t AlphaBeta::search(int32_t depth, int32_t alpha, int32_t beta, int ply) {
    ctx.lineLength[ply] = 0;
    if (ply > ctx.selectiveDepth) ctx.selectiveDepth = ply;
    const bool probes = useTable && depth >= 1;
    const uint64_t key = probes ? keyOf() : 0;
    if (probes) ctx.table.prefetch(key);
    const int32_t staticValue = scorePosition(board);
    if (isProved(staticValue) || depth < 1 || board.moveCount() >= LeafStoneCount || ply >= MaxPly)
        return staticValue;
    if (mustStop(ctx)) return 0;

    const bool pvNode = beta - alpha > 1;
    int tableMove = -1;
    if (useTable) {
        ++ctx.tableProbes;
        if (const TranspositionTable::Entry* e = ctx.table.probe(key)) {
            ++ctx.tableHits;
            tableMove = e->move;
            const int bound = e->bound & TranspositionTable::Exact;
            const int32_t v = e->value;
            if ((v >= WinValue && (bound & TranspositionTable::Lower)) ||
                (v <= -WinValue && (bound & TranspositionTable::Upper)))
                return v;
            if (!pvNode && e->depth >= depth) {
                if (bound == TranspositionTable::Exact) return v;
                if (bound == TranspositionTable::Lower && v >= beta) return v;
                if (bound == TranspositionTable::Upper && v <= alpha) return v;
            }
        }
    }

    const AnalysisResult& listed = ctx.turn.analysis;
    analyse(board, ctx.turn.analysis);
    const int n = listed.resultCount < MaxCandidates ? listed.resultCount : MaxCandidates;
    if (n <= 0) return -WinValue;
    int cells[MaxCandidates];
    for (int i = 0; i < n; ++i) cells[i] = listed.resultCells[i];

    const int32_t alphaOriginal = alpha;
    int32_t bestValue = -Infinite;
    int bestMove = cells[0];
    if (n == 1) {
        // A single reply costs no depth, unless the line has grown long.
        bestValue = searchChild(cells[0], ply < FreeExtensionPlies ? depth : depth - 1, alpha, beta, ply);
        if (ctx.stopped) return 0;
        takeLine(ply, cells[0]);
    } else {
        order(cells, n, tableMove, ply);
        for (int i = 0; i < n; ++i) {
            int32_t value;
            if (i == 0 || depth - 1 < 1) {
                value = searchChild(cells[i], depth - 1, alpha, beta, ply);
            } else {
                value = searchChild(cells[i], depth - 1, alpha, alpha + 1, ply);
                if (!ctx.stopped && value > alpha && value < beta)
                    value = searchChild(cells[i], depth - 1, alpha, beta, ply);
            }
            if (ctx.stopped) return 0;
            if (value <= bestValue) continue;
            bestValue = value;
            bestMove = cells[i];
            takeLine(ply, cells[i]);
            if (value > alpha) alpha = value;
            if (value >= beta || value >= WinValue) {
                noteCutoff(ply, cells[i], depth);
                break;
            }
        }
    }
    if (useTable) {
        const TranspositionTable::Bound bound = bestValue <= alphaOriginal ? TranspositionTable::Upper
                                                : bestValue >= beta        ? TranspositionTable::Lower
                                                                           : TranspositionTable::Exact;
        ctx.table.store(key, bestValue, bound, isProved(bestValue) ? ProvedDepth : depth, bestMove);
    }
    return bestValue;
}

int32_t AlphaBeta::searchRootMove(int cell, int32_t depth, int32_t alpha, int32_t beta) {
    return searchChild(cell, depth, alpha, beta, 0);
}

// One root move of the iterations: its cell, and its value and line in the
// last one (a bound only, for a move outside the best asked for).
struct RootMove {
    int cell;
    int32_t value;
    std::vector<int> line;
};

struct Iteration {
    bool complete = false;
    // The best root move whose search ended, and its line; -1 for none.
    int best = -1;
    int32_t value = -Infinite;
    std::vector<int> line;
};

// The value a root move must beat to be among the `bestCount` best of those
// searched so far, or -Infinite while fewer have been searched.
int32_t rootAlpha(const std::vector<RootMove>& moves, size_t searched, int bestCount) {
    if (searched < size_t(bestCount)) return -Infinite;
    std::vector<int32_t> values;
    for (size_t i = 0; i < searched; ++i) values.push_back(moves[i].value);
    std::nth_element(values.begin(), values.begin() + (bestCount - 1), values.end(), std::greater<>());
    return values[bestCount - 1];
}

// One iteration over the root moves, the best of the last one first. Each
// move that cannot be the first to be searched is tried with a null window
// above the `bestCount`-th best so far, and searched again in full when it
// beats it: the best `bestCount` moves get exact values and lines.
Iteration searchRoot(DeepSearchContext& ctx, Board& board, std::vector<RootMove>& moves, int32_t depth, bool useTable,
                     int bestCount = 1) {
    AlphaBeta ab(ctx, board, useTable);
    Iteration it;
    const int32_t childDepth = moves.size() == 1 ? depth : depth - 1;
    for (size_t i = 0; i < moves.size(); ++i) {
        const int cell = moves[i].cell;
        if (ctx.listener.rootMoveStarted) ctx.listener.rootMoveStarted(cell);
        const int32_t alpha = rootAlpha(moves, i, bestCount);
        const bool full = alpha == -Infinite;
        int32_t value = ab.searchRootMove(cell, childDepth, alpha, full ? Infinite : alpha + 1);
        if (!full && !ctx.stopped && value > alpha) value = ab.searchRootMove(cell, childDepth, alpha, Infinite);
        if (ctx.stopped) return it;
        moves[i].value = value;
        moves[i].line.assign(1, cell);
        moves[i].line.insert(moves[i].line.end(), ctx.line[1], ctx.line[1] + ctx.lineLength[1]);
        if (ctx.listener.rootMoveDone) ctx.listener.rootMoveDone(cell, value);
        if (it.best < 0 || value > it.value) {
            it.best = cell;
            it.value = value;
            it.line = moves[i].line;
            if (ctx.listener.bestChanged) {
                SearchReport shown;
                shown.value = value;
                shown.best = cell;
                shown.depth = depth;
                shown.line = it.line;
                ctx.listener.bestChanged(shown);
            }
        }
        if (value >= WinValue && bestCount == 1) break;
    }
    it.complete = true;
    return it;
}

}  // namespace

void DeepSearchContext::beginSearch(const Board& root) {
    stopped = stoppedByRequest = false;
    selectiveDepth = 0;
    tableProbes = tableHits = 0;
    checksUntilClock = 0;
    keyOffset = wideKey(stonesKey(root.cellBytes()) ^ root.positionKey());
    for (auto& k : killers) k[0] = k[1] = -1;
    // Old history still orders, at a quarter of its weight.
    for (auto& side : history)
        for (int32_t& h : side) h /= 4;
    table.nextGeneration();
}

int32_t searchFixedDepth(Board& board, DeepSearchContext& ctx, int32_t depth, bool useTable, int& best) {
    std::unique_ptr<Board> copy = copyBoard(board);
    ctx.beginSearch(*copy);
    std::vector<RootMove> moves;
    for (int cell : rootMoves(ctx.turn, *copy)) moves.push_back({cell, 0, {}});
    if (moves.empty()) {
        best = -1;
        return scorePosition(board);
    }
    const Iteration it = searchRoot(ctx, *copy, moves, depth, useTable);
    best = it.best;
    return it.value;
}

namespace {

constexpr int32_t FirstDepth = 7;

// How much longer the next iteration is expected to take than the last:
// what the last two deeper ones took, kept within reason; a guess before
// there are two. The first deeper iteration, with its table and ordering,
// mostly takes less than the tournament depth 7 before it (on the position
// set: half of it at the median, 1.3 times at the 90th percentile); one cut
// by the deadline only spends the rest of the turn's budget.
double expectedGrowth(int32_t lastMs, int32_t previousMs) {
    if (previousMs <= 0) return 0.8;
    return std::clamp(double(lastMs) / previousMs, 1.5, 5.0);
}

bool outOfNodes(const DeepSearchContext& ctx) { return ctx.limits.maxNodes > 0 && ctx.turn.nodeCounter >= ctx.limits.maxNodes; }

SearchReport iterationReport(const Iteration& it, int32_t depth, const DeepSearchContext& ctx, int32_t staticValue) {
    SearchReport report;
    report.value = it.value;
    report.best = it.best;
    report.line = it.line;
    report.depth = depth;
    report.selectiveDepth = ctx.selectiveDepth;
    report.nodes = ctx.turn.nodeCounter;
    report.timeMs = platform::clockDiff(platform::clockMs(), ctx.startedMs);
    report.staticValue = staticValue;
    return report;
}

// The root moves in the analysis' order, the first iteration's best first.
std::vector<RootMove> orderedRootMoves(DeepSearchContext& ctx, Board& board, int first) {
    std::vector<RootMove> moves;
    for (int cell : rootMoves(ctx.turn, board)) moves.push_back({cell, 0, {}});
    const auto at = std::find_if(moves.begin(), moves.end(), [&](const RootMove& m) { return m.cell == first; });
    if (at != moves.end()) std::rotate(moves.begin(), at, at + 1);
    return moves;
}

// The first iteration ends the search when it proved the position, found
// nothing to play, or left no time or nodes.
bool firstIterationEnds(const DeepSearchContext& ctx, const SearchReport& first) {
    return ctx.limits.maxDepth <= FirstDepth || isProved(first.value) || first.best < 0 ||
           ctx.turn.deadlinePassed() || outOfNodes(ctx);
}

// The iterations after the first, one depth more each while the next one is
// expected to finish in time. `report` comes in as the first iteration's and
// leaves as the last finished one's (or, from an iteration cut short, a
// root move searched to the end that beat it); `moves` leave with the last
// finished iteration's values and lines, best first.
void deepen(DeepSearchContext& ctx, Board& board, std::vector<RootMove>& moves, SearchReport& report, int bestCount) {
    const int32_t firstDepth = report.depth;
    int32_t lastMs = std::max(report.timeMs, 1), previousMs = 0;
    for (int32_t depth = firstDepth + 1; depth <= ctx.limits.maxDepth && depth < MaxPly; ++depth) {
        const int32_t now = platform::clockMs();
        const int32_t remaining = platform::clockDiff(ctx.turn.moveDeadline, now);
        if (lastMs * expectedGrowth(lastMs, previousMs) > remaining) break;
        if (ctx.listener.iterationStarted) ctx.listener.iterationStarted(depth);
        // The best moves' values of an iteration cut short are partly of
        // the last depth: the last finished iteration's stand instead.
        std::vector<RootMove> finished;
        if (bestCount > 1) finished = moves;
        const Iteration it = searchRoot(ctx, board, moves, depth, true, bestCount);
        const int32_t tookMs = std::max(platform::clockDiff(platform::clockMs(), now), 1);
        if (!it.complete) {
            if (bestCount > 1) {
                moves = std::move(finished);
            } else if (it.best >= 0 && it.best != report.best) {
                report = iterationReport(it, depth, ctx, report.staticValue);
            }
            break;
        }
        report = iterationReport(it, depth, ctx, report.staticValue);
        if (ctx.listener.iterationDone) ctx.listener.iterationDone(report);
        if (bestCount > 1) {
            std::stable_sort(moves.begin(), moves.end(),
                             [](const RootMove& a, const RootMove& b) { return a.value > b.value; });
        } else {
            const auto at = std::find_if(moves.begin(), moves.end(), [&](const RootMove& m) { return m.cell == it.best; });
            std::rotate(moves.begin(), at, at + 1);
        }
        previousMs = depth > firstDepth + 1 ? lastMs : 0;
        lastMs = tookMs;
        if (isProved(it.value)) break;
    }
    report.nodes = ctx.turn.nodeCounter;
    report.timeMs = platform::clockDiff(platform::clockMs(), ctx.startedMs);
    report.selectiveDepth = std::max(report.selectiveDepth, ctx.selectiveDepth);
}

}  // namespace

SearchReport searchDeeper(Board& board, DeepSearchContext& ctx) {
    ctx.stopped = ctx.stoppedByRequest = false;
    ctx.turn.nodeLimit = ctx.limits.maxNodes;
    SearchReport report = searchPosition(ctx.turn, board, std::min(ctx.limits.maxDepth, FirstDepth));
    ctx.turn.nodeLimit = 0;
    if (ctx.listener.iterationDone) ctx.listener.iterationDone(report);
    if (firstIterationEnds(ctx, report)) return report;

    std::unique_ptr<Board> copy = copyBoard(board);
    if (!copy->canTryMoves()) return report;
    ctx.beginSearch(*copy);
    std::vector<RootMove> moves = orderedRootMoves(ctx, *copy, report.best);
    if (moves.size() < 2) return report;
    deepen(ctx, *copy, moves, report, 1);
    return report;
}

std::vector<SearchReport> searchDeeperBest(Board& board, DeepSearchContext& ctx, int count) {
    ctx.stopped = ctx.stoppedByRequest = false;
    ctx.turn.nodeLimit = ctx.limits.maxNodes;
    std::vector<SearchReport> firsts = searchRootMoves(ctx.turn, board, std::min(ctx.limits.maxDepth, FirstDepth));
    ctx.turn.nodeLimit = 0;
    if (firsts.empty()) return firsts;
    if (ctx.listener.iterationDone) ctx.listener.iterationDone(firsts[0]);
    if (firstIterationEnds(ctx, firsts[0]) || firsts.size() < 2) return firsts;

    std::unique_ptr<Board> copy = copyBoard(board);
    if (!copy->canTryMoves()) return firsts;
    ctx.beginSearch(*copy);
    std::vector<RootMove> moves;
    for (const SearchReport& first : firsts) moves.push_back({first.best, first.value, first.line});
    SearchReport report = firsts[0];
    report.timeMs = platform::clockDiff(platform::clockMs(), ctx.startedMs);
    deepen(ctx, *copy, moves, report, std::clamp(count, 1, int(moves.size())));
    if (report.depth == firsts[0].depth) return firsts;  // nothing deeper finished

    std::vector<SearchReport> reports;
    for (const RootMove& move : moves) {
        SearchReport shown = report;
        shown.best = move.cell;
        shown.value = move.value;
        shown.line = move.line;
        reports.push_back(shown);
    }
    return reports;
}
