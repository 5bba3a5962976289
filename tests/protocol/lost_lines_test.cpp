#include "protocol/lost_lines.h"

#include <gtest/gtest.h>

#include <vector>

#include "knowledge/node_record.h"
#include "search/static_value.h"

namespace {

struct Root {
    int cell;
    int32_t value;
};

struct Loss {
    int cell;
    int32_t toEnd;
    int32_t games;
};

std::vector<SearchReport> reportsOf(const std::vector<Root>& roots) {
    std::vector<SearchReport> reports;
    for (const Root& r : roots) {
        SearchReport report;
        report.best = r.cell;
        report.value = r.value;
        reports.push_back(report);
    }
    return reports;
}

// Every loss of the first player (who is to move): whole games the second won.
LostLines lossesOf(const std::vector<Loss>& losses) {
    LostLines lost;
    for (const Loss& l : losses) {
        Continuation c;
        c.stats.outcome = WholeSecondWins;
        c.stats.toEnd = l.toEnd;
        c.gamesByClass[WholeSecondWins] = l.games;
        lost.cells.push_back(l.cell);
        lost.continuations.push_back(c);
    }
    return lost;
}

}  // namespace

TEST(LostLines, TheSearchsMoveIsPlayedAgainOnlyWhenNothingElseWillDo) {
    struct Case {
        const char* name;
        std::vector<Root> roots;  // best value first, as the search lists them
        std::vector<Loss> losses;
        int played;  // cell; -1: the search's own move is kept
        int32_t margin = NoMargin;
    };
    const Case cases[] = {
        {"the best move lost, the next did not", {{1, 300}, {2, 100}, {3, 50}}, {{1, 4, 1}}, 2},
        {"the two best lost", {{1, 300}, {2, 100}, {3, 50}}, {{1, 4, 1}, {2, 9, 1}}, 3},
        {"a lost move the search proves won", {{1, WinValue}, {2, 100}}, {{1, 4, 1}}, 1},
        {"the other moves the search proves lost", {{1, 300}, {2, -WinValue}}, {{1, 4, 1}}, 1},
        {"no other move", {{1, 300}}, {{1, 4, 1}}, 1},
        {"all lost: the latest loss", {{1, 300}, {2, 100}, {3, 50}}, {{1, 4, 1}, {2, 9, 5}, {3, 6, 1}}, 2},
        {"all lost as late: the least tried", {{1, 300}, {2, 100}, {3, 50}}, {{1, 9, 3}, {2, 9, 2}, {3, 9, 7}}, 2},
        {"all alike: the search's order", {{1, 300}, {2, 100}}, {{2, 5, 1}, {1, 5, 1}}, 1},
        {"a loss the search does not list", {{1, 300}, {2, -WinValue}}, {{1, 2, 1}, {7, 9, 1}}, 1},
        {"within the margin", {{1, 300}, {2, 160}, {3, 50}}, {{1, 4, 1}}, 2, 150},
        {"past the margin: the lost line goes on", {{1, 300}, {2, 100}, {3, 50}}, {{1, 4, 1}}, -1, 150},
        {"past the margin, every move lost", {{1, 300}, {2, 100}}, {{1, 4, 1}, {2, 9, 1}}, 2, 150},
    };
    for (const Case& c : cases) {
        const std::vector<SearchReport> reports = reportsOf(c.roots);
        const int chosen = replyAvoidingLosses(reports, lossesOf(c.losses), c.margin);
        EXPECT_EQ(chosen < 0 ? -1 : reports[size_t(chosen)].best, c.played) << c.name;
    }
    EXPECT_EQ(replyAvoidingLosses({}, lossesOf({{1, 4, 1}})), -1);
}

TEST(LostLines, AChildIsLostForTheSideThatDidNotWinIt) {
    // Classes: 0 whole and 2 cut won by the second player, 3 whole and 1 cut by the first.
    const struct {
        int32_t outcome;
        bool lostForFirst, lostForSecond;
    } cases[] = {{WholeSecondWins, true, false}, {CutFirstWins, false, true}, {CutSecondWins, true, false},
                 {WholeFirstWins, false, true}};
    for (const auto& c : cases) {
        NodeStats s;
        s.outcome = c.outcome;
        EXPECT_EQ(lostFor(s, false), c.lostForFirst) << c.outcome;
        EXPECT_EQ(lostFor(s, true), c.lostForSecond) << c.outcome;
    }
}

// A child lost by its class is lost in every game only when no game stored
// below it was won by the side to move: the other side's answer that beat it
// may not be the one this opponent plays, and the turn where it answered
// otherwise is where the lost line is avoided.
TEST(LostLines, AChildIsLostInEveryGameOnlyWhenNoGameBelowWasWon) {
    const struct {
        const char* name;
        int32_t outcome;
        int32_t games[4];  // by class of their last node
        bool second;       // the second player to move
        bool lost;
    } cases[] = {
        {"first to move, every game below lost", WholeSecondWins, {2, 0, 1, 0}, false, true},
        {"first to move, one game below won whole", WholeSecondWins, {2, 0, 0, 1}, false, false},
        {"first to move, one game below won cut", CutSecondWins, {2, 1, 0, 0}, false, false},
        {"second to move, every game below lost", WholeFirstWins, {0, 1, 0, 3}, true, true},
        {"second to move, one game below won", WholeFirstWins, {1, 0, 0, 3}, true, false},
        {"second to move, one cut game below won", CutFirstWins, {0, 1, 1, 0}, true, false},
        {"won by its class", WholeSecondWins, {1, 0, 0, 0}, true, false},
    };
    for (const auto& c : cases) {
        Continuation child;
        child.stats.outcome = c.outcome;
        for (int k = 0; k < 4; ++k) child.gamesByClass[k] = c.games[k];
        EXPECT_EQ(lostEveryGame(child, c.second), c.lost) << c.name;
    }
}
