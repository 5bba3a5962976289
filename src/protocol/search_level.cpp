#include "protocol/search_level.h"

#include <algorithm>
#include <charconv>
#include <string>

#include "platform/clock.h"
#include "protocol/analysis_lines.h"
#include "protocol/output.h"
#include "protocol/trace_log.h"
#include "search/deep_search.h"
#include "search/static_value.h"

namespace {

constexpr int32_t TournamentDepth = 7;
// Root moves are shown once a search has run this long: a shorter one is
// over before a GUI could draw them.
constexpr int32_t ShowRootMovesAfterMs = 200;

bool readLevelValue(std::string_view text, int32_t& value) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    int64_t wide = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), wide);
    if (error != std::errc() || end != text.data() + text.size()) return false;
    value = static_cast<int32_t>(std::clamp<int64_t>(wide, -1, INT32_MAX));
    return true;
}

DeepSearchContext& contextOf(GameSession& game) {
    if (!game.deepSearch) game.deepSearch = std::make_unique<DeepSearchContext>();
    return *game.deepSearch;
}

// A level's node cap on the turn's own context holds for one search.
struct NodeLimitScope {
    SearchContext& context;
    NodeLimitScope(SearchContext& c, int32_t limit) : context(c) { context.nodeLimit = limit; }
    ~NodeLimitScope() { context.nodeLimit = 0; }
    NodeLimitScope(const NodeLimitScope&) = delete;
    NodeLimitScope& operator=(const NodeLimitScope&) = delete;
};

bool longEnough(const DeepSearchContext& ctx) {
    return platform::clockDiff(platform::clockMs(), ctx.startedMs) >= ShowRootMovesAfterMs;
}

// The GUIs' words for what the deeper search finds while it runs.
SearchListener showingListener(GameSession& game, DeepSearchContext& ctx) {
    std::ostream& out = game.out;
    const Board& root = game.board;
    SearchListener listener;
    listener.iterationStarted = [&out, &ctx](int32_t) {
        if (longEnough(ctx)) writeLine(out, "MESSAGE REALTIME REFRESH");
    };
    listener.rootMoveStarted = [&out, &ctx](int cell) {
        if (longEnough(ctx)) writeLine(out, "MESSAGE REALTIME POS " + cellText(cell));
    };
    listener.rootMoveDone = [&out, &ctx](int cell, int32_t value) {
        if (!longEnough(ctx)) return;
        writeLine(out, std::string(value <= -WinValue ? "MESSAGE REALTIME LOSE " : "MESSAGE REALTIME DONE ") +
                           cellText(cell));
    };
    listener.bestChanged = [&out, &ctx](const SearchReport& report) {
        if (!longEnough(ctx)) return;
        writeLine(out, "MESSAGE REALTIME BEST " + cellText(report.best));
        writeLine(out, "MESSAGE REALTIME PV " + lineText(report));
    };
    listener.iterationDone = [&out, &root](const SearchReport& report) { writePvBlock(out, 0, 1, root, report); };
    return listener;
}

}  // namespace

bool levelIsSet(const GameSession& game) {
    return game.level.maxDepth != TournamentDepth || game.level.maxNodes > 0;
}

bool setLevelDepth(GameSession& game, std::string_view value) {
    int32_t depth = 0;
    if (!readLevelValue(value, depth)) return false;
    game.level.maxDepth = depth > 0 ? depth : TournamentDepth;
    return true;
}

bool setLevelNodes(GameSession& game, std::string_view value) {
    int32_t nodes = 0;
    if (!readLevelValue(value, nodes)) return false;
    game.level.maxNodes = nodes > 0 ? nodes : 0;
    return true;
}

size_t tableBytes(const GameSession& game) {
    const size_t half = static_cast<size_t>(game.memoryBudget) / 2;
    size_t bytes = game.hashKilobytes > 0 ? static_cast<size_t>(game.hashKilobytes) * 1024 : half;
    if (game.memoryGiven) bytes = std::min(bytes, half);
    return std::min(bytes, MaxTableBytes);
}

void clearSearchTable(GameSession& game) {
    if (game.deepSearch) game.deepSearch->table.clear();
}

namespace {

// The session's deeper search set for this turn: its table sized, the turn's
// deadline, the level, the stop question and the GUIs' words when asked for.
DeepSearchContext& deepSearchFor(GameSession& game, int32_t startMs) {
    DeepSearchContext& ctx = contextOf(game);
    if (!ctx.table.resize(tableBytes(game))) trace("bad_alloc", "the search table keeps its size");
    ctx.startedMs = startMs;
    ctx.turn.moveDeadline = game.search.moveDeadline;
    ctx.limits = game.level;
    ctx.stopRequested = game.stopRequested;
    ctx.listener = game.showDetail != 0 ? showingListener(game, ctx) : SearchListener{};
    return ctx;
}

}  // namespace

SearchReport searchAtLevel(GameSession& game, int32_t startMs) {
    const SearchLimits& level = game.level;
    if (level.maxDepth <= TournamentDepth) {
        const NodeLimitScope capped(game.search, level.maxNodes);
        return searchPosition(game.search, game.board, level.maxDepth);
    }
    DeepSearchContext& ctx = deepSearchFor(game, startMs);
    // The last iteration's block, when it is the answer, is not shown twice.
    SearchReport shown;
    if (const auto write = ctx.listener.iterationDone) {
        ctx.listener.iterationDone = [&shown, write](const SearchReport& r) {
            write(r);
            shown = r;
        };
    }
    SearchReport report = searchDeeper(game.board, ctx);
    report.blockShown = shown.depth == report.depth && shown.best == report.best && shown.value == report.value &&
                        shown.line == report.line;
    if (ctx.stoppedByRequest) trace("yxstop", "search stopped by the input");
    return report;
}

std::vector<SearchReport> searchBestAtLevel(GameSession& game, int32_t startMs, int count) {
    const SearchLimits& level = game.level;
    if (level.maxDepth <= TournamentDepth) {
        const NodeLimitScope capped(game.search, level.maxNodes);
        return searchRootMoves(game.search, game.board, level.maxDepth);
    }
    DeepSearchContext& ctx = deepSearchFor(game, startMs);
    std::vector<SearchReport> reports = searchDeeperBest(game.board, ctx, count);
    if (ctx.stoppedByRequest) trace("yxstop", "search stopped by the input");
    return reports;
}
