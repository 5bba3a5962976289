#include "protocol/balance.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "protocol/stone_lists.h"
#include "protocol/turn_driver.h"
#include "search/turn_search.h"
#include "search/static_value.h"

namespace {

constexpr int LoneStoneReach = 4;
constexpr int PairReach = 2;

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

std::vector<Placement> rankedPlacements(const Board& board, int count, int32_t target) {
    std::unique_ptr<Board> copy = copyBoard(board);
    std::vector<Placement> placements;
    // A lone stone may have to be a quiet one, away from the fight: the
    // tempo alone is worth much.
    for (int first : nearCells(board, count == 1 ? LoneStoneReach : PairReach)) {
        copy->makeMove(first);
        if (count == 1) {
            placements.push_back({first, -1, std::abs(-scorePosition(*copy) - target)});
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

Balance balanceStones(const Board& board, int count, int32_t target) {
    Balance best;
    int32_t bestDistance = 0;
    const std::vector<Placement> placements = rankedPlacements(board, count, target);
    for (const Placement& placement : placements) {
        if (best.searched > 0 && (deadlinePassed() || best.searched >= MaxBalanceSearches)) break;
        std::unique_ptr<Board> after = copyBoard(board);
        after->makeMove(placement.first);
        if (placement.second >= 0) after->makeMove(placement.second);
        const int32_t searched = searchPosition(*after, TurnSearchDepth).value;
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
