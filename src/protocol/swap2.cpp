#include "protocol/swap2.h"

#include <cstdlib>
#include <memory>

#include "platform/clock.h"
#include "protocol/output.h"
#include "protocol/stone_lists.h"
#include "protocol/turn_driver.h"
#include "search/turn_search.h"
#include "search/winrate.h"

namespace {

// Below this chance for white the engine takes black; the band around even
// is the part of a three-stone opening it hands back for the opponent to choose.
constexpr double SwapBelow = 0.45;
constexpr double ChooseAbove = 0.55;

// The search's move, or the first empty cell from the centre out should the
// search name none.
int searchedMove(SearchContext& context, Board& board, SearchReport& report) {
    report = searchPosition(context, board, TurnSearchDepth);
    if (report.best >= 0 && report.best < CellCount && board.isEmpty(report.best)) return report.best;
    return nearestEmptyCell(board, cellAt(9, 9));
}

}  // namespace

std::vector<int> balancedOpening(SearchContext& context, int centre, bool farWhite) {
    const int cx = cellX(centre), cy = cellY(centre);
    const int whiteSteps[][2] = {{1, 0}, {1, 1}, {2, 0}, {2, 1}, {2, 2}};
    std::vector<std::vector<int>> openings;
    for (const auto& step : whiteSteps) {
        if (!farWhite && (step[0] > 1 || step[1] > 1)) continue;
        for (int dy = -2; dy <= 2; ++dy)
            for (int dx = -2; dx <= 2; ++dx) {
                const int white = cellAt(cx + step[0], cy + step[1]), black = cellAt(cx + dx, cy + dy);
                if (black != centre && black != white) openings.push_back({centre, white, black});
            }
    }
    const std::vector<int>* best = nullptr;
    int32_t bestDistance = 0;
    for (const std::vector<int>& stones : openings) {
        if (best && context.deadlinePassed()) break;
        auto board = boardOfStones(stones);
        const int32_t distance = std::abs(searchPosition(context, *board, TurnSearchDepth).value);
        if (!best || distance < bestDistance) {
            best = &stones;
            bestDistance = distance;
        }
    }
    return *best;
}

Swap2Choice judgeSwap2(SearchContext& context, const std::vector<int>& stones) {
    auto board = boardOfStones(stones);  // white to move
    SearchReport report;
    Swap2Choice choice;
    choice.first = searchedMove(context, *board, report);
    const double white = winrate(report.value);
    if (choice.first < 0 || white < (stones.size() == 5 ? 0.5 : SwapBelow)) return Swap2Choice{};
    choice.kind = Swap2Choice::Kind::OneStone;
    if (stones.size() == 5 || white > ChooseAbove) return choice;
    board->makeMove(choice.first);
    choice.second = searchedMove(context, *board, report);
    if (choice.second >= 0) choice.kind = Swap2Choice::Kind::TwoStones;
    return choice;
}

std::string checkSwap2Stones(const std::vector<int>& stones, int count, std::string_view word) {
    const std::string name(word);
    if (!distinctPoints(stones)) return "ERROR " + name + " stones must be distinct points x,y on the board";
    const int n = int(stones.size());
    if (count < 0 && n != 0 && n != 3 && n != 5)
        return "ERROR " + name + " expects 0, 3 or 5 stones, not " + std::to_string(n);
    if (count >= 0 && n != count)
        return "ERROR " + name + " needs " + std::to_string(count) + " stones on the board, not " + std::to_string(n);
    return {};
}

std::string swap2Reply(GameSession& game, const std::vector<int>& stones) {
    const std::string error = checkSwap2Stones(stones, -1, "SWAP2BOARD");
    if (!error.empty()) return error;
    setMoveDeadline(game);
    if (stones.empty()) {
        const std::vector<int> opening = balancedOpening(game.search, cellAt(9, 9), true);
        return cellText(opening[0]) + " " + cellText(opening[1]) + " " + cellText(opening[2]);
    }
    const Swap2Choice choice = judgeSwap2(game.search, stones);
    switch (choice.kind) {
        case Swap2Choice::Kind::Swap: return "SWAP";
        case Swap2Choice::Kind::OneStone: return cellText(choice.first);
        case Swap2Choice::Kind::TwoStones: break;
    }
    return cellText(choice.first) + " " + cellText(choice.second);
}

std::vector<std::string> swap2StepLines(GameSession& game, int step) {
    if (step == 1) {
        // Yixin-Board runs the human's clock while the engine opens.
        setOpeningDeadline(game);
        const std::vector<int> opening = balancedOpening(game.search, cellAt(9, 9), true);
        return {"MESSAGE SWAP2 MOVE1 " + spacedCell(opening[0]), "MESSAGE SWAP2 MOVE2 " + spacedCell(opening[1]),
                "MESSAGE SWAP2 MOVE3 " + spacedCell(opening[2])};
    }
    setMoveDeadline(game);
    const std::vector<int> stones = gameStones(game);
    const std::string word = "yxswap2step" + std::to_string(step);
    std::string error = checkSwap2Stones(stones, step == 2 ? 3 : 5, word);
    if (error.empty() && !game.recordIsGame) error = "ERROR " + word + " needs stones of alternate colours";
    if (!error.empty()) return {error};
    const Swap2Choice choice = judgeSwap2(game.search, stones);
    const std::string prefix = step == 2 ? "MESSAGE SWAP2 SWAP1 " : "MESSAGE SWAP2 SWAP2 ";
    switch (choice.kind) {
        case Swap2Choice::Kind::Swap: return {prefix + "YES"};
        case Swap2Choice::Kind::OneStone: return {prefix + "NO"};
        case Swap2Choice::Kind::TwoStones: break;
    }
    return {"MESSAGE SWAP2 MOVE4 " + spacedCell(choice.first), "MESSAGE SWAP2 MOVE5 " + spacedCell(choice.second)};
}
