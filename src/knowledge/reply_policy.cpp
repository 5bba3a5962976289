#include "knowledge/reply_policy.h"

#include <cstdint>

namespace {

// How well a child's line went for the side to move, best first: a whole game
// it won, then a cut one it won; -1 for a line it lost or nobody won, which
// is never replayed.
int winRank(const NodeStats& s, bool secondToMove) {
    if (s.outcome == (secondToMove ? WholeSecondWins : WholeFirstWins)) return 0;
    if (s.outcome == (secondToMove ? CutSecondWins : CutFirstWins)) return 1;
    return -1;
}

// The counts hold the second player's wins only: the first player wants few.
int64_t winsBelow(const NodeStats& s, bool secondToMove) {
    const int64_t secondWins = int64_t(s.secondWinsWhole) + s.secondWinsCut;
    return secondToMove ? secondWins : -secondWins;
}

// Won lines before cut ones, then the shortest, then the most games won below;
// the earlier child on a full tie.
bool betterReply(const NodeStats& a, const NodeStats& b, bool secondToMove) {
    const int rankA = winRank(a, secondToMove), rankB = winRank(b, secondToMove);
    if (rankA != rankB) return rankA < rankB;
    if (a.toEnd != b.toEnd) return a.toEnd < b.toEnd;
    return winsBelow(a, secondToMove) > winsBelow(b, secondToMove);
}

}  // namespace

int chooseReply(const std::vector<NodeStats>& children, bool atRoot, bool secondToMove) {
    const int count = int(children.size());
    if (atRoot && count > 0) return 0;
    int best = -1;
    for (int i = 0; i < count; ++i) {
        if (winRank(children[i], secondToMove) < 0) continue;
        if (best < 0 || betterReply(children[i], children[best], secondToMove)) best = i;
    }
    return best;
}

bool lostFor(const NodeStats& child, bool secondToMove) { return winRank(child, secondToMove) < 0; }

bool lostEveryGame(const Continuation& child, bool secondToMove) {
    const int32_t* games = child.gamesByClass;
    const int64_t won = secondToMove ? int64_t(games[WholeSecondWins]) + games[CutSecondWins]
                                     : int64_t(games[WholeFirstWins]) + games[CutFirstWins];
    return lostFor(child.stats, secondToMove) && won == 0;
}

int latestLoss(const std::vector<Continuation>& lost) {
    int best = -1;
    for (int i = 0; i < int(lost.size()); ++i) {
        if (best >= 0) {
            const Continuation &a = lost[size_t(i)], &b = lost[size_t(best)];
            if (a.stats.toEnd < b.stats.toEnd) continue;
            if (a.stats.toEnd == b.stats.toEnd && a.games() >= b.games()) continue;
        }
        best = i;
    }
    return best;
}
