#include "search/search_report.h"

#include <memory>

#include "board/shared_state.h"
#include "platform/clock.h"
#include "search/static_value.h"
#include "search/threat_search.h"

namespace {

SearchReport last;

}  // namespace

SearchReport searchPosition(Board& board, int32_t depth) {
    std::unique_ptr<Board> copy = copyBoard(board);
    const int32_t started = platform::clockMs();
    nodeCounter = 0;
    SearchReport report;
    report.value = search(report.best, *copy, depth, -WinValue);
    report.timeMs = platform::clockDiff(platform::clockMs(), started);
    report.nodes = nodeCounter;
    report.depth = depth;
    report.selectiveDepth = selectiveDepth();
    report.line = principalVariation();
    // A root that is a leaf names its move without a line below it.
    if (report.line.empty() || report.line[0] != report.best)
        report.line = report.best >= 0 ? std::vector<int>{report.best} : std::vector<int>{};
    copy.reset();
    report.staticValue = scorePosition(board);
    last = report;
    return report;
}

const SearchReport& lastSearch() { return last; }
