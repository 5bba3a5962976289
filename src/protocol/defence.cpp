#include "protocol/defence.h"

#include <algorithm>
#include <new>
#include <vector>

#include "platform/clock.h"
#include "protocol/analysis_lines.h"
#include "protocol/output.h"
#include "protocol/stone_lists.h"
#include "protocol/turn_driver.h"
#include "search/turn_search.h"
#include "search/static_value.h"

namespace {

// A round is expected to cost this many times the one before until two
// rounds have shown their own growth.
constexpr int32_t FirstGrowth = 30;
constexpr int32_t LeastGrowth = 4;

struct Round {
    std::vector<SearchReport> reports;  // in the analysis' order
    bool whole = true;                  // every move searched before the deadline
    int32_t timeMs = 0;
};

const SearchReport& bestOf(const Round& round) {
    return *std::max_element(round.reports.begin(), round.reports.end(),
                             [](const SearchReport& a, const SearchReport& b) { return a.value < b.value; });
}

void writeMark(std::ostream& out, const char* mark, int cell) {
    writeLine(out, std::string("MESSAGE REALTIME ") + mark + " " + cellText(cell));
}

// One round at `depth`. A deeper round ends at a move whose search ran into
// the deadline; the first is searched whole, as a turn's search is, its
// moves turning into leaves once the time is up.
Round searchRound(GameSession& game, const std::vector<int>& moves, int32_t depth, std::vector<bool>& lost,
                  int& shownBest) {
    Round round;
    const int32_t started = platform::clockMs();
    writeLine(game.out, "MESSAGE REALTIME REFRESH");
    for (size_t i = 0; i < moves.size(); ++i) {
        writeMark(game.out, "POS", moves[i]);
        SearchReport report = searchRootMove(game.search, game.board, moves[i], depth, moves.size() == 1);
        if (depth > TurnSearchDepth && game.search.deadlinePassed()) {
            round.whole = false;
            break;
        }
        if (report.value <= -WinValue) lost[i] = true;
        if (lost[i]) report.value = -WinValue;
        writeMark(game.out, lost[i] ? "LOSE" : "DONE", moves[i]);
        round.reports.push_back(std::move(report));
    }
    // The best of a round is shown once the round has seen every move.
    if (round.whole && !round.reports.empty() && bestOf(round).best != shownBest) {
        shownBest = bestOf(round).best;
        writeMark(game.out, "BEST", shownBest);
    }
    round.timeMs = platform::clockDiff(platform::clockMs(), started);
    return round;
}

bool allProved(const Round& round) {
    return std::all_of(round.reports.begin(), round.reports.end(),
                       [](const SearchReport& r) { return r.value >= WinValue || r.value <= -WinValue; });
}

}  // namespace

int searchDefence(GameSession& game) {
    setMoveDeadline(game);
    const std::vector<int> moves = rootMoves(game.search, game.board);
    if (moves.empty()) return nearestEmptyCell(game.board, cellAt(9, 9));
    std::vector<bool> lost(moves.size(), false);
    int shownBest = -1;
    Round last;
    int32_t previousMs = 0;
    for (int32_t depth = TurnSearchDepth; depth <= MaxDefenceDepth; depth += 2) {
        Round round;
        try {
            round = searchRound(game, moves, depth, lost, shownBest);
        } catch (const std::bad_alloc&) {
            break;
        }
        if (!round.whole) break;
        last = std::move(round);
        if (allProved(last) || moves.size() == 1) break;
        const int32_t growth =
            previousMs > 0 ? std::max(LeastGrowth, last.timeMs / std::max<int32_t>(previousMs, 1)) : FirstGrowth;
        previousMs = std::max<int32_t>(last.timeMs, 1);
        if (int64_t(previousMs) * growth > game.search.msBeforeDeadline()) break;
    }
    if (last.reports.empty()) return moves[0];
    const SearchReport& best = bestOf(last);
    if (game.showDetail != 0) writePvBlock(game.out, 0, 1, game.board, best);
    writeBestAndSummary(game.out, game.board, best);
    return best.best;
}
