#include "protocol/soosorv.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "protocol/output.h"
#include "protocol/stone_lists.h"
#include "protocol/swap2.h"
#include "protocol/turn_driver.h"
#include "search/turn_search.h"
#include "search/winrate.h"

namespace {

// The centre as Yixin-Board sees it (board size / 2): its standard openings
// start there.
constexpr int OpeningCentre = cellAt(BoardSize / 2, BoardSize / 2);

struct Symmetry {
    int transform;  // bit 4: swap x and y; bit 1: mirror x; bit 2: mirror y
    int dx, dy;
};

void transform(int t, int& x, int& y) {
    if (t & 4) std::swap(x, y);
    if (t & 1) x = -x;
    if (t & 2) y = -y;
}

// The cell a symmetry takes `cell` to, or -1 off the board.
int mapped(const Symmetry& s, int cell) {
    int x = cellX(cell), y = cellY(cell);
    transform(s.transform, x, y);
    x += s.dx;
    y += s.dy;
    return onBoard(x, y) ? cellAt(x, y) : -1;
}

// Every map that takes each stone onto a stone of its colour; the identity
// is always one. A map is fixed by its transform and where the first stone goes.
std::vector<Symmetry> symmetriesOf(const std::vector<int>& stones) {
    int colour[CellCount];
    for (int& c : colour) c = -1;
    for (size_t i = 0; i < stones.size(); ++i) colour[stones[i]] = int(i % 2);
    std::vector<Symmetry> found;
    if (stones.empty()) return found;
    for (int t = 0; t < 8; ++t)
        for (size_t j = 0; j < stones.size(); j += 2) {
            int x = cellX(stones[0]), y = cellY(stones[0]);
            transform(t, x, y);
            const Symmetry s{t, cellX(stones[j]) - x, cellY(stones[j]) - y};
            bool keeps = true;
            for (size_t i = 0; i < stones.size() && keeps; ++i) {
                const int to = mapped(s, stones[i]);
                keeps = to >= 0 && colour[to] == int(i % 2);
            }
            if (keeps) found.push_back(s);
        }
    return found;
}

struct RankedMove {
    int cell;
    int32_t value;  // for the side that plays it
};

// The moves of the side to move after `stones`, best first, each searched
// as a turn's first move is, one of each symmetric family.
std::vector<RankedMove> rankedMoves(SearchContext& context, const std::vector<int>& stones) {
    auto board = boardOfStones(stones);
    const std::vector<SearchReport> reports = searchRootMoves(context, *board, TurnSearchDepth);
    std::vector<int> cells;
    for (const SearchReport& report : reports) cells.push_back(report.best);
    const std::vector<int> kept = withoutSymmetricTwins(stones, cells);
    std::vector<RankedMove> ranked;
    for (const SearchReport& report : reports)
        for (int cell : kept)
            if (cell == report.best) ranked.push_back({cell, report.value});
    return ranked;
}

// N fifth stones for black: its best searched ones, then, should the
// search list fewer, the empty cells nearest the centre that are no twin of
// one already offered.
std::vector<int> offeredFifths(SearchContext& context, const std::vector<int>& four, int count) {
    std::vector<int> offered;
    for (const RankedMove& move : rankedMoves(context, four))
        if (int(offered.size()) < count) offered.push_back(move.cell);
    auto board = boardOfStones(four);
    for (int ring = 1; ring < BoardSize && int(offered.size()) < count; ++ring)
        for (int cell = 0; cell < CellCount && int(offered.size()) < count; ++cell) {
            if (std::max(std::abs(cellX(cell) - cellX(four[0])), std::abs(cellY(cell) - cellY(four[0]))) != ring)
                continue;
            if (!board->isEmpty(cell)) continue;
            std::vector<int> with = offered;
            with.push_back(cell);
            if (withoutSymmetricTwins(four, with).size() == with.size()) offered.push_back(cell);
        }
    return offered;
}

struct FourthChoice {
    int cell = -1;
    int fifths = 1;
    int32_t distance = 0;  // of black's value with that many fifths offered from even
};

// White's fourth stone and N: white then picks the fifth worst for black
// among the N best black offers, so the value of black's N-th best fifth is
// what the game is worth; the pair that brings it nearest to even, since
// black may still swap.
FourthChoice chooseFourth(SearchContext& context, const std::vector<int>& three) {
    auto board = boardOfStones(three);
    const std::vector<SearchReport> fourths = searchRootMoves(context, *board, TurnSearchDepth);
    FourthChoice best;
    for (const SearchReport& fourth : fourths) {
        if (best.cell >= 0 && context.deadlinePassed()) break;
        std::vector<int> four = three;
        four.push_back(fourth.best);
        const std::vector<RankedMove> fifths = rankedMoves(context, four);
        if (best.cell >= 0 && context.deadlinePassed()) break;  // cut short: its values are not the search's
        for (int n = 1; n <= SoosorvMaxFifths && n <= int(fifths.size()); ++n) {
            const int32_t distance = std::abs(fifths[n - 1].value);
            if (best.cell < 0 || distance < best.distance) best = {fourth.best, n, distance};
        }
        if (best.cell < 0) best = {fourth.best, 1, INT32_MAX};  // black has no move to offer
    }
    if (best.cell < 0) best.cell = nearestEmptyCell(*board, three[0]);
    return best;
}

// Black's value with `count` fifths offered: white keeps the worst of them.
int32_t valueWithFifths(SearchContext& context, const std::vector<int>& four, int count) {
    const std::vector<RankedMove> fifths = rankedMoves(context, four);
    if (fifths.empty()) return 0;
    return fifths[std::min<size_t>(count, fifths.size()) - 1].value;
}

// The offered fifth that leaves white best off.
int chooseFifth(SearchContext& context, const std::vector<int>& stones) {
    int best = -1;
    int32_t bestValue = 0;
    for (size_t i = 4; i < stones.size(); ++i) {
        if (best >= 0 && context.deadlinePassed()) break;
        auto board = boardOfStones({stones[0], stones[1], stones[2], stones[3], stones[i]});
        const int32_t value = searchPosition(context, *board, TurnSearchDepth).value;  // for white
        if (best < 0 || value > bestValue) {
            best = stones[i];
            bestValue = value;
        }
    }
    return best;
}

std::string stoneError(int step, const std::vector<int>& stones, int fifths) {
    const std::string word = "yxsoosorvstep" + std::to_string(step);
    if (!distinctPoints(stones)) return "ERROR " + word + " stones must be distinct points x,y on the board";
    if ((step == 4 || step == 5) && (fifths < 1 || fifths > SoosorvMaxFifths))
        return "ERROR " + word + " needs N from 1 to " + std::to_string(SoosorvMaxFifths);
    const size_t n = stones.size();
    const size_t needed = step <= 3 ? 3 : 4;
    if (step == 6 ? n < 5 || n > 4 + SoosorvMaxFifths : n != needed)
        return "ERROR " + word + " needs " + (step == 6 ? std::string("4 stones and the offered fifths")
                                                        : std::to_string(needed) + " stones") +
               ", not " + std::to_string(n);
    return {};
}

std::string yesOrNo(bool yes) { return yes ? "YES" : "NO"; }

}  // namespace

std::vector<int> withoutSymmetricTwins(const std::vector<int>& stones, const std::vector<int>& cells) {
    const std::vector<Symmetry> symmetries = symmetriesOf(stones);
    std::vector<int> kept;
    for (int cell : cells) {
        bool twin = false;
        for (const Symmetry& s : symmetries)
            for (int earlier : kept) twin = twin || mapped(s, cell) == earlier;
        if (!twin) kept.push_back(cell);
    }
    return kept;
}

std::vector<std::string> soosorvStepLines(GameSession& game, int step, int fifths, const std::vector<int>& stones) {
    if (step == 1) {
        // Yixin-Board runs the human's clock while the engine opens.
        setOpeningDeadline(game);
        const std::vector<int> opening = balancedOpening(game.search, OpeningCentre, false);
        return {"MESSAGE SOOSORV MOVE1 " + spacedCell(opening[0]), "MESSAGE SOOSORV MOVE2 " + spacedCell(opening[1]),
                "MESSAGE SOOSORV MOVE3 " + spacedCell(opening[2])};
    }
    const std::string error = stoneError(step, stones, fifths);
    if (!error.empty()) return {error};
    setMoveDeadline(game);
    switch (step) {
        case 2: {
            auto board = boardOfStones(stones);
            return {"MESSAGE SOOSORV SWAP1 " + yesOrNo(winrate(searchPosition(game.search, *board, TurnSearchDepth).value) < 0.5)};
        }
        case 3: {
            const FourthChoice choice = chooseFourth(game.search, stones);
            return {"MESSAGE SOOSORV MOVE4 " + spacedCell(choice.cell) + " " + std::to_string(choice.fifths)};
        }
        case 4: return {"MESSAGE SOOSORV SWAP2 " + yesOrNo(winrate(valueWithFifths(game.search, stones, fifths)) < 0.5)};
        case 5: {
            std::vector<std::string> lines = {"MESSAGE SOOSORV MOVE5 REFRESH"};
            for (int cell : offeredFifths(game.search, stones, fifths)) lines.push_back("MESSAGE SOOSORV MOVE5 " + spacedCell(cell));
            lines.push_back("MESSAGE SOOSORV MOVE5 DONE");
            return lines;
        }
        default: return {"MESSAGE SOOSORV MOVE5C " + spacedCell(chooseFifth(game.search, stones))};
    }
}
