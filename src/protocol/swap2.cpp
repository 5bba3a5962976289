#include "protocol/swap2.h"

#include <cstdlib>
#include <memory>

#include "platform/clock.h"
#include "protocol/output.h"
#include "protocol/turn_driver.h"
#include "search/turn_search.h"
#include "search/shared_state.h"
#include "search/winrate.h"

namespace {

// Below this chance for white the engine takes black; the band around even
// is the part of a three-stone opening it hands back for the opponent to choose.
constexpr double SwapBelow = 0.45;
constexpr double ChooseAbove = 0.55;

// The engine judges a position as it plays every game: as side 1, to move.
std::unique_ptr<Board> boardOf(const std::vector<int>& stones) {
    auto board = std::make_unique<Board>();
    board->setSideToMove(stones.size() % 2 == 0 ? 1 : 0);
    for (int cell : stones) board->makeMove(cell);
    return board;
}

// The search's move, or the first empty cell from the centre out should the
// search name none.
int searchedMove(Board& board, SearchReport& report) {
    report = searchPosition(board, TurnSearchDepth);
    if (report.best >= 0 && report.best < CellCount && board.isEmpty(report.best)) return report.best;
    for (int ring = 0; ring < BoardSize; ++ring)
        for (int cell = 0; cell < CellCount; ++cell)
            if (std::abs(cellX(cell) - 9) <= ring && std::abs(cellY(cell) - 9) <= ring && board.isEmpty(cell))
                return cell;
    return -1;
}

// Black in the centre, white beside it, black again within two points: the
// opening whose search value for white lies nearest to even. Searched in a
// fixed order until the turn's time is used; the first opening always is.
std::string balancedOpening() {
    const int centre = cellAt(9, 9);
    const int whiteSteps[][2] = {{1, 0}, {1, 1}, {2, 0}, {2, 1}, {2, 2}};
    std::vector<std::vector<int>> openings;
    for (const auto& step : whiteSteps)
        for (int dy = -2; dy <= 2; ++dy)
            for (int dx = -2; dx <= 2; ++dx) {
                const int white = cellAt(9 + step[0], 9 + step[1]), black = cellAt(9 + dx, 9 + dy);
                if (black != centre && black != white) openings.push_back({centre, white, black});
            }
    const std::vector<int>* best = nullptr;
    int32_t bestDistance = 0;
    for (const std::vector<int>& stones : openings) {
        if (best && platform::clockDiff(platform::clockMs(), moveDeadline) >= 0) break;
        auto board = boardOf(stones);
        const int32_t distance = std::abs(searchPosition(*board, TurnSearchDepth).value);
        if (!best || distance < bestDistance) {
            best = &stones;
            bestDistance = distance;
        }
    }
    return cellText((*best)[0]) + " " + cellText((*best)[1]) + " " + cellText((*best)[2]);
}

bool validStones(const std::vector<int>& stones) {
    bool taken[CellCount] = {};
    for (int cell : stones) {
        if (cell < 0 || cell >= CellCount || taken[cell]) return false;
        taken[cell] = true;
    }
    return true;
}

}  // namespace

std::string swap2Reply(GameSession& game, const std::vector<int>& stones) {
    if (!validStones(stones)) return "ERROR SWAP2BOARD stones must be distinct points x,y on the board";
    if (stones.size() != 0 && stones.size() != 3 && stones.size() != 5)
        return "ERROR SWAP2BOARD expects 0, 3 or 5 stones, not " + std::to_string(stones.size());
    setMoveDeadline(game);
    if (stones.empty()) return balancedOpening();

    auto board = boardOf(stones);  // white to move
    SearchReport report;
    const int fourth = searchedMove(*board, report);
    const double white = winrate(report.value);
    if (fourth < 0 || white < (stones.size() == 5 ? 0.5 : SwapBelow)) return "SWAP";
    if (stones.size() == 5 || white > ChooseAbove) return cellText(fourth);
    board->makeMove(fourth);
    const int fifth = searchedMove(*board, report);
    return fifth < 0 ? cellText(fourth) : cellText(fourth) + " " + cellText(fifth);
}
