#include "protocol/lost_lines.h"

#include <algorithm>

#include "knowledge/experience_database.h"
#include "knowledge/symmetry_frame.h"
#include "protocol/engine_state.h"
#include "search/static_value.h"

bool LostLines::contains(int cell) const { return std::find(cells.begin(), cells.end(), cell) != cells.end(); }

LostLines lostLines(GameSession& game) {
    LostLines lost;
    if (!game.followsExperienceDatabase) return lost;
    const bool secondToMove = game.board.moveCount() % 2 == 1;
    std::vector<Continuation> children;
    try {
        children = experienceDatabase.continuations(ContinuationReadBudget);
    } catch (...) {
        reportDatabaseError(game);
        return lost;
    }
    for (const Continuation& child : children)
        if (!lostFor(child.stats, secondToMove)) return LostLines{};
    for (const Continuation& child : children) {
        if (!lostEveryGame(child, secondToMove)) continue;
        int cell = -1;
        try {
            cell = denormalise(experienceDatabase.frame, child.move);
        } catch (...) {
            continue;  // a key no board cell has: no move of this game
        }
        lost.cells.push_back(cell);
        lost.continuations.push_back(child);
    }
    return lost;
}

int replyAvoidingLosses(const std::vector<SearchReport>& reports, const LostLines& lost, int32_t margin) {
    // A win the search proves is played whatever was stored below it.
    if (!reports.empty() && reports[0].value >= WinValue) return 0;
    std::vector<Continuation> listedLosses;
    std::vector<int> listedAt;
    bool everyListedLost = true;
    for (size_t i = 0; i < reports.size(); ++i) {
        const auto at = std::find(lost.cells.begin(), lost.cells.end(), reports[i].best);
        if (at == lost.cells.end()) {
            everyListedLost = false;
            // Listed best first: the best lost move's value is the first one met.
            const bool close = listedAt.empty() || margin == NoMargin ||
                               int64_t(reports[i].value) >= int64_t(reports[size_t(listedAt[0])].value) - margin;
            if (reports[i].value > -WinValue && close) return int(i);
            continue;
        }
        listedLosses.push_back(lost.continuations[size_t(at - lost.cells.begin())]);
        listedAt.push_back(int(i));
    }
    if (margin != NoMargin && !everyListedLost) return -1;
    const int latest = latestLoss(listedLosses);
    if (latest >= 0) return listedAt[size_t(latest)];
    return reports.empty() ? -1 : 0;
}
