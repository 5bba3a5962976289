#include "protocol/turn_driver.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "board/analysis.h"
#include "board/win_test.h"
#include "knowledge/experience_database.h"
#include "platform/clock.h"
#include "protocol/analysis_lines.h"
#include "protocol/lost_lines.h"
#include "protocol/output.h"
#include "protocol/search_level.h"
#include "protocol/trace_log.h"
#include "search/turn_search.h"
#include "search/negamax.h"
#include "search/static_value.h"

namespace {

constexpr int RecommendedLow = 3;
constexpr int RecommendedHigh = 16;

std::string formatted(const char* format, int a, int b = 0, int c = 0) {
    char text[102];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

bool isEmptyCell(const Board& board, int cell) {
    return cell >= 0 && cell < CellCount && board.isEmpty(cell);
}

bool inMiddleSquare(int cell) {
    const int x = cellX(cell), y = cellY(cell);
    return x >= RecommendedLow && x <= RecommendedHigh && y >= RecommendedLow && y <= RecommendedHigh;
}

void noteChoice(GameSession& game, MoveChoice::Source source, int cell, int32_t startMs) {
    MoveChoice& choice = game.lastChoice;
    choice = MoveChoice{};
    choice.source = source;
    choice.cell = cell;
    choice.staticValue = scorePosition(game.board);
    choice.elapsedMs = platform::clockDiff(platform::clockMs(), startMs);
    choice.moveCount = game.board.moveCount();
    choice.positionKey = game.board.positionKey();
}

// The stored reply for the position as a board cell, or NoMove. The cursor
// stands on the position's node, so a reply on a stone would mean a damaged
// file; the search then decides.
int recommendedCell(GameSession& game, bool onlyMiddle) {
    if (!game.followsExperienceDatabase) return NoMove;
    const int32_t startMs = game.turnStartMs;
    try {
        int key = 0;
        if (!experienceDatabase.recommend(game.board.moveCount() % 2 == 1, key)) return NoMove;
        const int cell = denormalise(experienceDatabase.frame, key);
        if (!isEmptyCell(game.board, cell)) {
            trace("!isEmptyCell(cell)", formatted("stored reply %d is not empty", cell).c_str());
            return NoMove;
        }
        const bool middle = inMiddleSquare(cell);
        if (middle)
            writeLine(game.out, "MESSAGE Doporuceny: " + std::to_string(cell));
        if (onlyMiddle && !middle) {
            trace("!inMiddleSquare(cell)", formatted("stored reply %d dropped", cell).c_str());
            return NoMove;
        }
        trace("recommend", formatted("stored reply %d", cell).c_str());
        noteChoice(game, MoveChoice::Source::Database, cell, startMs);
        return cell;
    } catch (...) {
        reportDatabaseError(game);
        return NoMove;
    }
}

int firstEmptyCell(const Board& board) {
    for (int cell = 0; cell < CellCount; ++cell)
        if (board.isEmpty(cell)) return cell;
    return NoMove;
}

// The searches always name a listed cell; this only keeps a broken list from
// ever reaching the protocol as an illegal move.
int legalOrFallback(GameSession& game, int cell) {
    Board& board = game.board;
    if (isEmptyCell(board, cell)) return cell;
    trace("!isEmptyCell(best)", formatted("move %d replaced", cell).c_str());
    const AnalysisResult& listed = game.search.analysis;
    analyse(board, game.search.analysis);
    for (int i = 0; i < listed.resultCount; ++i)
        if (isEmptyCell(board, listed.resultCells[i])) return listed.resultCells[i];
    return firstEmptyCell(board);
}

int playAndGive(GameSession& game, int cell) {
    if (cell == NoMove) return NoMove;
    game.playMove(cell);
    return cell;
}

int fastReply(GameSession& game) {
    const ThreatEntry own = game.board.moverThreats().strongest();
    const ThreatEntry other = game.board.opponentThreats().strongest();
    const int ownClass = own.threatClass, otherClass = other.threatClass;
    // An own open four loses to an opposing five point, so the block comes between.
    int cell = NoMove;
    if (ownClass == 0)
        cell = own.cell;
    else if (otherClass == 0)
        cell = other.cell;
    else if (ownClass == 1)
        cell = own.cell;
    if (cell != NoMove) {
        trace("fast reply", formatted("own class %d, other class %d, cell %d", ownClass, otherClass, cell).c_str());
        writeLine(game.out, "MESSAGE fast reply");
    }
    return cell;
}

// The value of the position for a reply already chosen; false, with
// nothing searched, when no copy can be made.
bool searchForValue(GameSession& game, SearchReport& report) {
    try {
        const SearchReport searched = searchPosition(game.search, game.board, TurnSearchDepth);
        game.lastSearchValue.remember(game.board, searched.value);
        report.value = searched.value;
        report.depth = searched.depth;
        report.selectiveDepth = searched.selectiveDepth;
        report.nodes = searched.nodes;
        report.timeMs = searched.timeMs;
        if (searched.best == report.best) report.line = searched.line;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

int showReply(GameSession& game, const SearchReport& report) {
    if (game.showDetail == 0) return report.best;
    if (!report.blockShown) writePvBlock(game.out, 0, 1, game.board, report);
    writeBestAndSummary(game.out, game.board, report);
    return report.best;
}

// A reply the search did not choose shows the GUIs its move with a value
// only where one is known: a decided position's (verdict +1 won, -1 lost,
// as the win test or the forced-move analysis found it), else the last
// search's for this side, else that of a search of the position run for
// the GUI alone. A static score is no search value: should even that search
// fail, the GUI gets the move and no winrate.
int showUnsearchedReply(GameSession& game, int cell, int verdict) {
    if (game.showDetail == 0 || cell == NoMove) return cell;
    SearchReport report;
    report.staticValue = scorePosition(game.board);
    report.best = cell;
    report.line = {cell};
    bool known = verdict != 0;
    if (known)
        report.value = verdict > 0 ? WinValue : -WinValue;
    else
        known = game.lastSearchValue.carriedTo(game.board, report.value) || searchForValue(game, report);
    if (known) return showReply(game, report);
    writeLine(game.out, "MESSAGE REALTIME BEST " + cellText(cell));
    writeLine(game.out, "MESSAGE reply without a search, no value known, line " + cellText(cell));
    return cell;
}

// How much worse than a lost move another may be worth to be played instead:
// NoMargin plays any other that the search does not prove lost.
constexpr int32_t LostLineMargin = NoMargin;

// A search's move that a stored game lost is played again only when the
// search offers nothing better, judged on every root move's value: those the
// search gave (a level's search where lost lines were known before it), else
// those of a search of every root move at the tournament depth. The report
// becomes the chosen move's.
void avoidLostLine(GameSession& game, SearchReport& report, const LostLines& lost, std::vector<SearchReport> reports) {
    if (!lost.contains(report.best)) return;
    if (reports.empty()) {
        try {
            reports = searchRootMoves(game.search, game.board, TurnSearchDepth);
        } catch (const std::bad_alloc&) {
            trace("bad_alloc", "no copy for the lost line's alternatives");
            return;
        }
    }
    const int chosen = replyAvoidingLosses(reports, lost, LostLineMargin);
    if (chosen < 0 || reports[size_t(chosen)].best == report.best) return;
    writeLine(game.out, "MESSAGE Lost line " + std::to_string(report.best) + " avoided: " +
                            std::to_string(reports[size_t(chosen)].best));
    trace("lost line", formatted("%d avoided, %d played", report.best, reports[size_t(chosen)].best).c_str());
    report = reports[size_t(chosen)];
}

}  // namespace

void setMoveDeadline(GameSession& game, int32_t startedMs) {
    game.search.moveDeadline = platform::clockAdd(startedMs, turnBudget(game) - ReplyReserveMs);
}

void setMoveDeadline(GameSession& game) { setMoveDeadline(game, platform::clockMs()); }

void setOpeningDeadline(GameSession& game) {
    game.search.moveDeadline = platform::clockAdd(platform::clockMs(), turnBudget(game) / 4 - ReplyReserveMs);
}

int32_t turnBudget(const GameSession& game) {
    const int32_t share = game.timeLeft / 6;
    return game.timeoutTurn < share ? game.timeoutTurn : share;
}

int32_t storeWaitLimit(const GameSession& game) { return std::min(ReplyReserveMs / 4, turnBudget(game) / 10); }

void startNewGame(GameSession& game) {
    game.board.setSideToMove(1);
    resetGame(game);
    trace("start", "new game");
}

int beginGame(GameSession& game) {
    game.startTurn(storeWaitLimit(game));
    resetGame(game);
    trace("begin", formatted("engine opens as side %d", game.board.sideToMove()).c_str());
    int cell = recommendedCell(game, true);
    if (cell == NoMove) cell = chooseMove(game, game.turnStartMs);
    return playAndGive(game, cell);
}

int answerMove(GameSession& game, int x, int y) {
    game.startTurn(storeWaitLimit(game));
    if (game.board.moveCount() == 0) {
        game.board.pass();
        resetGame(game);
        trace("moveCount == 0", "opponent opens the game");
    } else if (game.refollowDue) {
        game.refollowFromRoot();
    }
    const int cell = cellAt(x, y);
    trace("turn", formatted("opponent %d,%d", x, y).c_str());
    game.playMove(cell);
    int reply = recommendedCell(game, false);
    if (reply == NoMove) reply = chooseMove(game, game.turnStartMs);
    return playAndGive(game, reply);
}

int chooseMove(GameSession& game) { return chooseMove(game, platform::clockMs()); }

int chooseMove(GameSession& game, int32_t startMs) {
    Board& board = game.board;
    setMoveDeadline(game, startMs);
    trace("budget", formatted("budget %d ms, %d stones", turnBudget(game), board.moveCount()).c_str());

    const int fast = fastReply(game);
    if (fast != NoMove) {
        noteChoice(game, MoveChoice::Source::Fast, fast, startMs);
        return showUnsearchedReply(game, fast, winTest(board));
    }

    const AnalysisResult& listed = game.search.analysis;
    const int verdict = analyse(board, game.search.analysis);
    if (listed.resultCount == 1) {
        trace("resultCount == 1", formatted("forced %d", listed.resultCells[0]).c_str());
        const int forced = legalOrFallback(game, listed.resultCells[0]);
        noteChoice(game, MoveChoice::Source::Forced, forced, startMs);
        return showUnsearchedReply(game, forced, verdict);
    }

    SearchReport report;
    // A level's search learns of the stored lost lines first, so that it can
    // value every root move itself; the tournament search asks afterwards.
    LostLines lost;
    std::vector<SearchReport> everyMove;
    try {
        if (!levelIsSet(game)) {
            report = searchPosition(game.search, board, TurnSearchDepth);
        } else if (lost = lostLines(game); lost.cells.empty()) {
            report = searchAtLevel(game, startMs);
        } else {
            everyMove = searchBestAtLevel(game, startMs, MaxCandidates);
            report = everyMove.empty() ? searchAtLevel(game, startMs) : everyMove.front();
        }
    } catch (const std::bad_alloc&) {
        trace("bad_alloc", "no copy for the search");
        const int first = legalOrFallback(game, listed.resultCells[0]);
        noteChoice(game, MoveChoice::Source::Forced, first, startMs);
        return showUnsearchedReply(game, first, verdict);
    }
    writeLine(game.out, "MESSAGE " + std::to_string(report.value) + "|" + std::to_string(report.staticValue) +
                            "|" + std::to_string(report.nodes));
    trace("search", formatted("value %d, nodes %d, best %d", report.value, report.nodes, report.best).c_str());
    if (!levelIsSet(game)) lost = lostLines(game);
    avoidLostLine(game, report, lost, std::move(everyMove));
    const int cell = legalOrFallback(game, report.best);
    noteChoice(game, MoveChoice::Source::Search, cell, startMs);
    MoveChoice& choice = game.lastChoice;
    choice.value = report.value;
    choice.nodes = report.nodes;
    choice.elapsedMs = report.timeMs;
    choice.depth = report.depth;
    choice.selectiveDepth = report.selectiveDepth;
    choice.line = report.line;
    game.lastSearchValue.remember(board, report.value);
    if (cell != report.best) return showUnsearchedReply(game, cell, 0);
    return showReply(game, report);
}

int chooseBestMoves(GameSession& game, int count) {
    setMoveDeadline(game);
    std::vector<SearchReport> reports;
    try {
        reports = levelIsSet(game) ? searchBestAtLevel(game, platform::clockMs(), count)
                                   : searchRootMoves(game.search, game.board, TurnSearchDepth);
    } catch (const std::bad_alloc&) {
        trace("bad_alloc", "no copy for the best moves");
    }
    if (reports.empty()) return chooseMove(game);  // nothing listed to compare
    const int n = count < int(reports.size()) ? count : int(reports.size());
    game.lastSearchValue.remember(game.board, reports[0].value);
    for (int i = 0; i < n; ++i) writePvBlock(game.out, i, n, game.board, reports[i]);
    writeBestAndSummary(game.out, game.board, reports[0]);
    return reports[0].best;
}
