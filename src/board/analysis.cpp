#include "board/analysis.h"

#include <algorithm>
#include <cstdlib>

#include "board/line_patterns.h"

namespace {

void append(AnalysisResult& r, int cell) { r.resultCells[r.resultCount++] = cell; }

void add(AnalysisResult& r, int cell) {
    if (r.resultMarks[cell]) return;
    r.resultMarks[cell] = 1;
    append(r, cell);
}

// Cells the quiet branch holds back for its later passes; both lists may
// reserve every one of their cells.
struct Reserve {
    int32_t cells[2 * CellCount];
    int count = 0;
};

void reserve(Reserve& held, int cell) { held.cells[held.count++] = cell; }

void resetMarks(AnalysisResult& r) {
    for (int i = 0; i < r.resultCount; ++i) r.resultMarks[r.resultCells[i]] = 0;
}

int distanceOf(int threatClass) { return winDistance[readClass(threatClass)]; }
int depthOf(int threatClass) { return threatDepth[readClass(threatClass)]; }

bool isEmptyCell(const Board& board, int cell) { return board.isEmpty(cell); }

bool holdsStoneOf(const Board& board, int cell, int side) { return board.stoneAt(cell) == side; }

// The neighbour of `cell` one step along the line, or -1 past the edge.
int neighbour(int cell, int line, bool forward) {
    int direction = forward ? ForwardReach[line] : BackwardReach[line];
    if (reach(direction, cell) == cell) return -1;
    return cell + (forward ? ForwardStep[line] : BackwardStep[line]);
}

bool existsEmpty(const Board& board, int cell) { return cell >= 0 && isEmptyCell(board, cell); }

// With three defence points a, b, c of an attack of class 1 on one line, keep
// the two that matter: an outer point is dropped when the far side is open.
void tidyLastThree(AnalysisResult& r, const Board& board, int line) {
    if (r.resultCount < 3) return;
    int s = ForwardStep[line];
    int32_t* last = r.resultCells + r.resultCount - 3;
    int a = last[0], b = last[1], c = last[2];
    if (b == a - s) {
        if (existsEmpty(board, neighbour(c, line, true))) {
            r.resultMarks[b] = 0;
            last[1] = c;
            --r.resultCount;
        }
    } else if (c == a + s) {
        if (existsEmpty(board, neighbour(b, line, false))) {
            r.resultMarks[c] = 0;
            --r.resultCount;
        } else {
            last[1] = c;
            last[2] = b;
        }
    }
}

// First point of the attacker's segment through t: back along the line over
// empty points and attacker stones, up to the defender's first stone.
int segmentStart(const Board& board, int t, int line) {
    int limit = reach(BackwardReach[line], t);
    int p = t;
    while (p != limit) {
        int next = p + BackwardStep[line];
        if (holdsStoneOf(board, next, board.sideToMove())) break;
        p = next;
    }
    return p;
}

int openingReply(const Board& board) {
    if (board.moveCount() == 0) return CentreCell;
    if (board.moveCount() == 1) {
        int stone = board.lastMove();
        if (stone < 0 || isEmptyCell(board, stone)) {
            stone = -1;
            for (int c = 0; c < CellCount && stone < 0; ++c)
                if (!isEmptyCell(board, c)) stone = c;
            if (stone < 0) return CentreCell;
        }
        int x = cellX(stone);
        return cellAt(x < 10 ? x + 1 : x - 1, cellY(stone));
    }
    if (isEmptyCell(board, 169)) return 169;
    if (isEmptyCell(board, 188)) return 188;
    return CentreCell;  // only reachable with stones on both 169 and 188
}

int defaultMove(const Board& board) {
    int s = -1;
    for (int c = 0; c < CellCount && s < 0; ++c)
        if (holdsStoneOf(board, c, board.sideToMove())) s = c;
    if (s >= 0) {
        int x = cellX(s), y = cellY(s);
        int x2 = x < 10 ? x + 1 : x - 1;
        int y2 = y < 10 ? y + 1 : y - 1;
        for (int c : {cellAt(x2, y2), cellAt(x, y2), cellAt(x2, y)})
            if (isEmptyCell(board, c)) return c;
    }
    for (int c = 0; c < CellCount; ++c)
        if (isEmptyCell(board, c)) return c;
    return -1;  // full board: there is no move
}

using Walk = ThreatList::Iterator;

void answerThreats(AnalysisResult& r, const Board& board, int b, int pc) {
    const ThreatList& m = board.moverThreats();
    const ThreatList& p = board.opponentThreats();
    if (b <= 2) {
        addDefences(board, pc, b, r);
    } else {
        for (Walk e = p.begin(); e != p.end() && (*e).threatClass <= 3; ++e) addDefences(board, (*e).cell, (*e).threatClass, r);
    }
    const int d = distanceOf(p.strongest().threatClass);
    for (Walk e = m.begin(); e != m.end() && (*e).threatClass < 14; ++e)
        if (distanceOf((*e).threatClass) <= d && depthOf((*e).threatClass) <= 1) add(r, (*e).cell);
}

// The own walk of the quiet branch; stops early, on the entry it stopped at,
// once the reserve has grown past ten.
void ownWalk(AnalysisResult& r, Reserve& held, const Board& board, Walk& m) {
    const ThreatList& own = board.moverThreats();
    const int opponent = 1 - board.sideToMove();
    for (; m != own.end(); ++m) {
        const auto [cell, k] = *m;
        if (k == 13) {  // the weakest and most common class first
            reserve(held, cell);
        } else if (k <= 7 || k == 12 || (k == 11 && board.isListed(cell, opponent))) {
            add(r, cell);
            if (k == 7 && board.sideToMove() == 1) addLineThrees(cell, m, own.end(), r);
        } else if (isIsolated(board, cell)) {
            reserve(held, cell);
        } else if (r.resultCount <= 8) {
            reserve(held, cell);
            if (held.count > 10) return;
        }
    }
}

// The opponent walk of the quiet branch; true when it filled the list.
bool opponentWalk(AnalysisResult& r, Reserve& held, const Board& board, Walk& p) {
    for (const Walk end = board.opponentThreats().end(); p != end;) {
        const auto [cell, k] = *p;
        if (k == 7) {
            add(r, cell);
        } else if (k == 11) {
            if (!isIsolated(board, cell) && board.moveCount() < 10)
                add(r, cell);
            else
                reserve(held, cell);
        } else if (k <= 6) {
            if (isIsolated(board, cell))
                reserve(held, cell);
            else
                add(r, cell);
        } else {
            reserve(held, cell);
        }
        ++p;
        if (r.resultCount == 14) return true;
    }
    return false;
}

// Reserve passes; true when they ended the branch.
bool reservePasses(AnalysisResult& r, const Reserve& held, const Board& board) {
    if (r.resultCount >= 10) return false;
    for (int i = 0; i < held.count; ++i) {
        if (isIsolated(board, held.cells[i])) continue;
        add(r, held.cells[i]);
        if (r.resultCount >= 10) return true;
    }
    if (r.resultCount != 0) return true;
    for (int i = 0; i < held.count; ++i) {
        add(r, held.cells[i]);
        if (r.resultCount >= 8) return true;
    }
    return false;
}

void continueWalk(AnalysisResult& r, Walk& walk, Walk end) {
    for (; r.resultCount < 5 && walk != end; ++walk) add(r, (*walk).cell);
}

void quietBranch(AnalysisResult& r, const Board& board) {
    Reserve held;
    Walk m = board.moverThreats().begin(), p = board.opponentThreats().begin();
    ownWalk(r, held, board, m);
    if (opponentWalk(r, held, board, p)) return;
    if (reservePasses(r, held, board)) return;
    if (r.resultCount < 5) {
        continueWalk(r, m, board.moverThreats().end());
        continueWalk(r, p, board.opponentThreats().end());
    }
    if (r.resultCount == 0) {
        int move = defaultMove(board);
        if (move >= 0) add(r, move);
    }
}

}  // namespace

bool isIsolated(const Board& board, int c) {
    if (c < 21 || c > 399) return false;
    // The stone bits of the neighbours at once: a branch each costs more.
    uint8_t stones = 0;
    for (int step : {-21, -20, -19, -1, 1, 19, 20, 21}) {
        const int n = c + step;
        stones |= n < CellCount ? board.cellByte(n) : 0;
    }
    static_assert(StoneX == 0x80 && StoneO == 0x40);
    return (stones & (StoneX | StoneO)) == 0;
}

void addLineThrees(int c, ThreatList::Iterator from, ThreatList::Iterator end, AnalysisResult& r) {
    auto lineThree = [](int k) { return k >= 8 && k <= 10; };
    while (from != end && !lineThree((*from).threatClass)) ++from;
    const int cx = cellX(c), cy = cellY(c);
    for (; from != end && lineThree((*from).threatClass); ++from) {
        const int cell = (*from).cell;
        const int dx = std::abs(cellX(cell) - cx), dy = std::abs(cellY(cell) - cy);
        if ((dx == 0 && dy <= 4) || (dy == 0 && dx <= 4) || (dx == dy && dx <= 4)) add(r, cell);
    }
}

void addDefences(const Board& board, int t, int k, AnalysisResult& r) {
    int attacker = 1 - board.sideToMove();
    int codes[LineCount];
    bool selected[LineCount] = {};
    int zeros = 0;
    for (int line = 0; line < LineCount; ++line) {
        codes[line] = emptyFormCode(board.cellBytes(), t, line, attacker);
        int dist = lineDistance(codes[line]);
        if (k == 1) {
            if (dist == 0) {
                ++zeros;
                selected[line] = true;
            } else if (dist == 1 && zeros == 0) {
                selected[line] = true;
            }
        }
        if (k >= 1 && k <= 3 && dist == 2) selected[line] = true;
    }
    add(r, t);
    if (zeros > 1) return;
    for (int line = 0; line < LineCount; ++line) {
        if (!selected[line]) continue;
        int start = segmentStart(board, t, line);
        int n = 0;
        for (int i = 0; i < SegmentMax; ++i) {
            if (defenceCell(codes[line], i) == 0) continue;
            add(r, start + i * ForwardStep[line]);
            ++n;
        }
        if (n == 3 && k == 1) tidyLastThree(r, board, line);
    }
}

int analyse(const Board& board, AnalysisResult& r) {
    const ThreatList& m = board.moverThreats();
    const ThreatList& p = board.opponentThreats();
    m.settle();
    p.settle();
    r.resultCount = 0;
    if (board.moveCount() < 3) {
        append(r, openingReply(board));
        return 0;
    }

    const auto [mc, a] = m.strongest();
    if (a == 0) {
        append(r, mc);
        return 1;
    }
    const auto [pc, b] = p.strongest();
    if (b == 0) {
        append(r, pc);
        return p.twoFives() ? -1 : 0;
    }

    bool quiet = b > 3;
    if (a <= 3) {
        append(r, mc);
        if (a <= 1) return 1;
        if (b <= 2) {
            --r.resultCount;
        } else {
            if (p.empty()) return 1;
            int minD = 18;
            for (const ThreatEntry e : p) minD = std::min(minD, distanceOf(e.threatClass));
            if (minD > 1) return 1;
            --r.resultCount;
            quiet = true;
        }
    }

    if (quiet)
        quietBranch(r, board);
    else
        answerThreats(r, board, b, pc);
    resetMarks(r);
    return 0;
}
