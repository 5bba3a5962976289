#include "search/turn_search.h"

#include <algorithm>
#include <memory>

#include "board/analysis.h"
#include "platform/clock.h"
#include "search/static_value.h"
#include "search/negamax.h"

SearchReport searchPosition(SearchContext& context, Board& board, int32_t depth) {
    std::unique_ptr<Board> copy = copyBoard(board);
    const int32_t started = platform::clockMs();
    context.nodeCounter = 0;
    SearchReport report;
    report.value = search(context, report.best, *copy, depth, -WinValue);
    report.timeMs = platform::clockDiff(platform::clockMs(), started);
    report.nodes = context.nodeCounter;
    report.depth = depth;
    report.selectiveDepth = selectiveDepth(context);
    report.line = principalVariation(context);
    // A root that is a leaf names its move without a line below it.
    if (report.line.empty() || report.line[0] != report.best)
        report.line = report.best >= 0 ? std::vector<int>{report.best} : std::vector<int>{};
    copy.reset();
    report.staticValue = scorePosition(board);
    return report;
}

SearchReport searchRootMove(SearchContext& context, Board& board, int cell, int32_t depth, bool onlyMove) {
    std::unique_ptr<Board> child = copyBoard(board);
    const int32_t started = platform::clockMs();
    context.nodeCounter = 0;
    child->makeMove(cell);
    ++context.nodeCounter;
    SearchReport report;
    int32_t scratch = 0;
    // A single move costs the root no depth, as in the turn's search.
    report.value = -search(context, scratch, *child, onlyMove ? depth : depth - 1, WinValue);
    report.timeMs = platform::clockDiff(platform::clockMs(), started);
    report.nodes = context.nodeCounter;
    report.depth = depth;
    report.selectiveDepth = selectiveDepth(context) + 1;
    report.best = cell;
    report.line = principalVariation(context);
    report.line.insert(report.line.begin(), cell);
    report.staticValue = scorePosition(board);
    return report;
}

std::vector<int> rootMoves(SearchContext& context, const Board& board) {
    const AnalysisResult& listed = context.analysis;
    analyse(board, context.analysis);
    const int n = listed.resultCount < MaxCandidates ? listed.resultCount : MaxCandidates;
    std::vector<int> moves;
    for (int i = 0; i < n; ++i)
        if (board.isEmpty(listed.resultCells[i])) moves.push_back(listed.resultCells[i]);
    return moves;
}

std::vector<SearchReport> searchRootMoves(SearchContext& context, Board& board, int32_t depth) {
    const AnalysisResult& listed = context.analysis;
    analyse(board, context.analysis);
    const int n = listed.resultCount < MaxCandidates ? listed.resultCount : MaxCandidates;
    const std::vector<int> candidates(listed.resultCells, listed.resultCells + n);
    std::vector<SearchReport> reports;
    for (int cell : candidates)
        if (board.isEmpty(cell)) reports.push_back(searchRootMove(context, board, cell, depth, n == 1));
    std::stable_sort(reports.begin(), reports.end(),
                     [](const SearchReport& a, const SearchReport& b) { return a.value > b.value; });
    return reports;
}
