// The deeper search on the recorded positions (bench/positions.txt): the
// depth it reaches in 1 s and in 3 s (median over the positions), its nodes
// per second and table hit rate; the time it takes to a fixed depth, for
// comparing two builds; and, beside it, today's search repeated at depth 9
// and 11 within the same 3 s (how many positions it finishes, and when).
// Each figure is one run over every position, with a fresh table for each.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "board/board.h"
#include "platform/clock.h"
#include "search/bench.h"
#include "search/deep_search.h"
#include "search/static_value.h"
#include "search/turn_search.h"

namespace {

constexpr size_t TableBytes = size_t{64} << 20;
// Long enough for any fixed depth measured here; a search that needs longer
// is cut and counted as it stands.
constexpr int32_t FixedDepthLimitMs = 60000;

const std::vector<SetPosition>& positions() {
    static const std::vector<SetPosition> set = [] {
        std::vector<SetPosition> read;
        std::string error;
        // Not __FILE__: a compiler cache may have made it relative.
        const std::string path = std::string(TARVO_SOURCE_DIR) + "/bench/positions.txt";
        if (!readPositionSet(path, read, error)) read.clear();
        return read;
    }();
    return set;
}

// A set that could not be read is an error, not a run over no positions.
bool havePositions(benchmark::State& state) {
    if (!positions().empty()) return true;
    state.SkipWithError("bench/positions.txt could not be read");
    return false;
}

std::unique_ptr<Board> boardAt(const SetPosition& position) {
    auto board = std::make_unique<Board>();
    for (int cell : position.moves) board->makeMove(cell);
    return board;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct DeepRun {
    int32_t depth = 0;  // of the last finished iteration
    int32_t value = 0;
    int32_t nodes = 0;
    int32_t ms = 0;
    double hitRate = 0;
};

DeepRun searchFor(DeepSearchContext& ctx, Board& board, int32_t maxDepth, int32_t ms) {
    ctx.table.clear();
    DeepRun run;
    ctx.listener = SearchListener{};
    ctx.listener.iterationDone = [&](const SearchReport& r) { run.depth = r.depth; };
    ctx.stopRequested = nullptr;
    ctx.limits.maxDepth = maxDepth;
    ctx.limits.maxNodes = 0;
    ctx.turn.nodeCounter = 0;
    ctx.startedMs = platform::clockMs();
    ctx.turn.moveDeadline = platform::clockAdd(ctx.startedMs, ms);
    const SearchReport report = searchDeeper(board, ctx);
    run.ms = std::max(platform::clockDiff(platform::clockMs(), ctx.startedMs), 1);
    run.value = report.value;
    run.nodes = report.nodes;
    run.hitRate = ctx.tableProbes ? double(ctx.tableHits) / double(ctx.tableProbes) : 0;
    return run;
}

std::unique_ptr<DeepSearchContext> newContext() {
    auto ctx = std::make_unique<DeepSearchContext>();
    ctx->table.resize(TableBytes);
    return ctx;
}

void DeepSearchInTime(benchmark::State& state) {
    if (!havePositions(state)) return;
    const int32_t ms = static_cast<int32_t>(state.range(0));
    auto ctx = newContext();
    std::vector<double> depths, openDepths, speeds, hitRates;
    for (auto _ : state) {
        for (const SetPosition& position : positions()) {
            auto board = boardAt(position);
            const DeepRun run = searchFor(*ctx, *board, 99, ms);
            depths.push_back(run.depth);
            // A value proved at depth 7 ends the search there at any budget.
            if (run.depth > 7 || (run.value > -WinValue && run.value < WinValue)) openDepths.push_back(run.depth);
            speeds.push_back(double(run.nodes) * 1000 / run.ms);
            if (run.depth > 7) hitRates.push_back(run.hitRate);
        }
    }
    state.counters["median_depth"] = median(depths);
    state.counters["median_depth_unproved"] = median(openDepths);
    state.counters["median_nodes_per_s"] = median(speeds);
    state.counters["median_table_hit_rate"] = median(hitRates);
    state.counters["positions"] = double(depths.size());
}

void DeepSearchToDepth(benchmark::State& state) {
    if (!havePositions(state)) return;
    const int32_t depth = static_cast<int32_t>(state.range(0));
    auto ctx = newContext();
    double nodes = 0, ms = 0, reached = 0;
    for (auto _ : state) {
        for (const SetPosition& position : positions()) {
            auto board = boardAt(position);
            const DeepRun run = searchFor(*ctx, *board, depth, FixedDepthLimitMs);
            nodes += run.nodes;
            ms += run.ms;
            reached += run.ms < FixedDepthLimitMs;
        }
    }
    state.counters["total_ms"] = ms;
    state.counters["nodes"] = nodes;
    state.counters["nodes_per_s"] = ms > 0 ? nodes * 1000 / ms : 0;
    state.counters["finished"] = reached;
}

// Today's search at one depth, given the 3 s the deeper search had.
void TodaySearchAtDepth(benchmark::State& state) {
    if (!havePositions(state)) return;
    const int32_t depth = static_cast<int32_t>(state.range(0));
    constexpr int32_t LimitMs = 3000;
    double finishedIn1s = 0, finishedIn3s = 0;
    std::vector<double> times;
    for (auto _ : state) {
        for (const SetPosition& position : positions()) {
            auto board = boardAt(position);
            SearchContext ctx;
            const int32_t started = platform::clockMs();
            ctx.moveDeadline = platform::clockAdd(started, LimitMs);
            searchPosition(ctx, *board, depth);
            const int32_t took = platform::clockDiff(platform::clockMs(), started);
            times.push_back(took);
            finishedIn1s += took < 1000;
            finishedIn3s += took < LimitMs;
        }
    }
    state.counters["finished_in_1s"] = finishedIn1s;
    state.counters["finished_in_3s"] = finishedIn3s;
    state.counters["median_ms"] = median(times);
}

BENCHMARK(DeepSearchInTime)->Arg(100)->Arg(1000)->Arg(3000)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(DeepSearchToDepth)->Arg(9)->Arg(10)->Arg(11)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(TodaySearchAtDepth)->Arg(9)->Arg(11)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
