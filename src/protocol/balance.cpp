#include "protocol/balance.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "protocol/stone_lists.h"
#include "protocol/turn_driver.h"
#include "search/turn_search.h"
#include "search/static_value.h"

namespace {

constexpr int LoneStoneReach = BoardSize;  // any empty cell
constexpr int PairReach = 2;
constexpr int32_t RankingDepth = 3;

// Empty cells within `reach` points of a stone (`extra` counted as one); on
// an empty board the centre and its neighbourhood.
std::vector<int> nearCells(const Board& board, int reach, int extra = -1) {
    bool near[CellCount] = {};
    bool any = false;
    const auto markAround = [&](int centre) {
        for (int dy = -reach; dy <= reach; ++dy)
            for (int dx = -reach; dx <= reach; ++dx)
                if (onBoard(cellX(centre) + dx, cellY(centre) + dy))
                    near[cellAt(cellX(centre) + dx, cellY(centre) + dy)] = true;
    };
    for (int cell = 0; cell < CellCount; ++cell)
        if (!board.isEmpty(cell) || cell == extra) {
            any = true;
            markAround(cell);
        }
    if (!any) markAround(cellAt(9, 9));
    std::vector<int> cells;
    for (int cell = 0; cell < CellCount; ++cell)
        if (near[cell] && board.isEmpty(cell) && cell != extra) cells.push_back(cell);
    return cells;
}

struct Placement {
    int first, second;  // second -1 for one stone
    int32_t distance;   // of the static value from the target
};

// The position once the stones stand, searched as the engine searches its
// own games: with side 1 to move. After a lone stone the other side is to
// move, so the colours are swapped; its value is then the other side's.
std::unique_ptr<Board> positionAfter(const Board& board, const Placement& placement) {
    std::unique_ptr<Board> after = copyBoard(board);
    after->makeMove(placement.first);
    if (placement.second >= 0) {
        after->makeMove(placement.second);
        return after;
    }
    int8_t swapped[CellCount];
    for (int cell = 0; cell < CellCount; ++cell) {
        const int stone = after->stoneAt(cell);
        swapped[cell] = static_cast<int8_t>(stone == NoStone ? NoStone : 1 - stone);
    }
    after->setUp(swapped, 1 - after->sideToMove());
    return after;
}

std::vector<Placement> rankedPlacements(SearchContext& context, const Board& board, int count, int32_t target) {
    std::unique_ptr<Board> copy = copyBoard(board);
    std::vector<Placement> placements;
    // A lone stone may have to be a quiet one, far from the fight: the tempo
    // alone is worth much, so the stones near the others all give too much.
    for (int first : nearCells(board, count == 1 ? LoneStoneReach : PairReach)) {
        if (!placements.empty() && context.deadlinePassed()) break;  // the ranking too keeps to the turn
        copy->makeMove(first);
        if (count == 1) {
            // A lone stone's static value says little (the move passes to
            // the other side): a shallow search ranks it.
            const Placement lone{first, -1, 0};
            const int32_t value = -searchPosition(context, *positionAfter(board, lone), RankingDepth).value;
            placements.push_back({first, -1, std::abs(value - target)});
        } else {
            for (int second : nearCells(board, PairReach, first)) {
                copy->makeMove(second);
                placements.push_back({first, second, std::abs(scorePosition(*copy) - target)});
                copy->takeBack();
            }
        }
        copy->takeBack();
    }
    std::stable_sort(placements.begin(), placements.end(),
                     [](const Placement& a, const Placement& b) { return a.distance < b.distance; });
    return placements;
}

}  // namespace

Balance balanceStones(SearchContext& context, const Board& board, int count, int32_t target) {
    Balance best;
    int32_t bestDistance = 0;
    const std::vector<Placement> placements = rankedPlacements(context, board, count, target);
    for (const Placement& placement : placements) {
        if (best.searched > 0 && (context.deadlinePassed() || best.searched >= MaxBalanceSearches)) break;
        std::unique_ptr<Board> after = positionAfter(board, placement);
        const int32_t searched = searchPosition(context, *after, TurnSearchDepth).value;
        const int32_t value = placement.second >= 0 ? searched : -searched;
        const int32_t distance = std::abs(value - target);
        ++best.searched;
        if (best.stones.empty() || distance < bestDistance) {
            best.stones = {placement.first};
            if (placement.second >= 0) best.stones.push_back(placement.second);
            best.value = value;
            bestDistance = distance;
        }
    }
    return best;
}
