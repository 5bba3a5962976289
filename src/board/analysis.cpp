#include "board/analysis.h"

#include <cstdlib>

#include "board/line_patterns.h"
#include "board/shared_state.h"

namespace {

// Both lists may reserve every one of their cells, so room for two lists.
int32_t reserveCells[2 * CellCount];
int reserveCount = 0;

void append(int cell) { resultCells[resultCount++] = cell; }

void add(int cell) {
    if (resultMarks[cell]) return;
    resultMarks[cell] = 1;
    append(cell);
}

void reserve(int cell) { reserveCells[reserveCount++] = cell; }

void resetMarks() {
    for (int i = 0; i < resultCount; ++i) resultMarks[resultCells[i]] = 0;
}

int distanceOf(int threatClass) { return winDistance[readClass(threatClass)]; }
int depthOf(int threatClass) { return threatDepth[readClass(threatClass)]; }

bool isEmptyCell(const Board& board, int cell) { return isEmptyByte(board.cells[cell]); }

bool holdsStoneOf(const Board& board, int cell, int side) {
    return side ? isXByte(board.cells[cell]) : isOByte(board.cells[cell]);
}

bool listedFor(const Board& board, int cell, int side) {
    return (board.cells[cell] & (side ? ListedX : ListedO)) != 0;
}

// The neighbour of `cell` one step along the line, or -1 past the edge.
int neighbour(int cell, int line, bool forward) {
    int direction = forward ? ForwardReach[line] : BackwardReach[line];
    if (reach(direction, cell) == cell) return -1;
    return cell + (forward ? ForwardStep[line] : BackwardStep[line]);
}

bool existsEmpty(const Board& board, int cell) { return cell >= 0 && isEmptyCell(board, cell); }

// With three defence points a, b, c of an attack of class 1 on one line, keep
// the two that matter: an outer point is dropped when the far side is open.
void tidyLastThree(const Board& board, int line) {
    if (resultCount < 3) return;
    int s = ForwardStep[line];
    int32_t* last = resultCells + resultCount - 3;
    int a = last[0], b = last[1], c = last[2];
    if (b == a - s) {
        if (existsEmpty(board, neighbour(c, line, true))) {
            resultMarks[b] = 0;
            last[1] = c;
            --resultCount;
        }
    } else if (c == a + s) {
        if (existsEmpty(board, neighbour(b, line, false))) {
            resultMarks[c] = 0;
            --resultCount;
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
        if (holdsStoneOf(board, next, board.sideToMove_)) break;
        p = next;
    }
    return p;
}

int openingReply(const Board& board) {
    if (board.moveCount_ == 0) return CentreCell;
    if (board.moveCount_ == 1) {
        int stone = board.lastMove_;
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
        if (holdsStoneOf(board, c, board.sideToMove_)) s = c;
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

void answerThreats(Board& board, int b, int pc) {
    ThreatList& m = board.moverThreats();
    ThreatList& p = board.opponentThreats();
    int cell, threatClass;
    if (b <= 2) {
        addDefences(board, pc, b);
    } else {
        p.cursor = p.count - 1;
        while (p.current(cell, threatClass) && threatClass <= 3) {
            addDefences(board, cell, threatClass);
            --p.cursor;
        }
    }
    p.cursor = p.count - 1;
    p.current(cell, threatClass);
    int d = distanceOf(threatClass);
    m.cursor = m.count - 1;
    while (m.current(cell, threatClass) && threatClass < 14) {
        if (distanceOf(threatClass) <= d && depthOf(threatClass) <= 1) add(cell);
        --m.cursor;
    }
}

// The own walk of the quiet branch; stops early, on the entry it stopped at,
// once the reserve has grown past ten.
void ownWalk(Board& board) {
    ThreatList& m = board.moverThreats();
    int opponent = 1 - board.sideToMove_;
    int cell, k;
    m.cursor = m.count - 1;
    while (m.current(cell, k)) {
        if (k <= 7 || k == 12 || (k == 11 && listedFor(board, cell, opponent))) {
            add(cell);
            if (k == 7 && board.sideToMove_ == 1) {
                int saved = m.cursor;
                addLineThrees(cell, m);
                m.cursor = saved;
            }
        } else if (k == 13) {
            reserve(cell);
        } else if (isIsolated(board, cell)) {
            reserve(cell);
        } else if (resultCount <= 8) {
            reserve(cell);
            if (reserveCount > 10) return;
        }
        --m.cursor;
    }
}

// The opponent walk of the quiet branch; true when it filled the list.
bool opponentWalk(Board& board) {
    ThreatList& p = board.opponentThreats();
    int cell, k;
    p.cursor = p.count - 1;
    while (p.current(cell, k)) {
        if (k == 7) {
            add(cell);
        } else if (k == 11) {
            if (!isIsolated(board, cell) && board.moveCount_ < 10)
                add(cell);
            else
                reserve(cell);
        } else if (k <= 6) {
            if (isIsolated(board, cell))
                reserve(cell);
            else
                add(cell);
        } else {
            reserve(cell);
        }
        --p.cursor;
        if (resultCount == 14) return true;
    }
    return false;
}

// Reserve passes; true when they ended the branch.
bool reservePasses(const Board& board) {
    if (resultCount >= 10) return false;
    for (int i = 0; i < reserveCount; ++i) {
        if (isIsolated(board, reserveCells[i])) continue;
        add(reserveCells[i]);
        if (resultCount >= 10) return true;
    }
    if (resultCount != 0) return true;
    for (int i = 0; i < reserveCount; ++i) {
        add(reserveCells[i]);
        if (resultCount >= 8) return true;
    }
    return false;
}

void continueWalk(ThreatList& list) {
    int cell, k;
    while (resultCount < 5 && list.current(cell, k)) {
        add(cell);
        --list.cursor;
    }
}

void quietBranch(Board& board) {
    reserveCount = 0;
    ownWalk(board);
    if (opponentWalk(board)) return;
    if (reservePasses(board)) return;
    if (resultCount < 5) {
        continueWalk(board.moverThreats());
        continueWalk(board.opponentThreats());
    }
    if (resultCount == 0) {
        int move = defaultMove(board);
        if (move >= 0) add(move);
    }
}

}  // namespace

bool isIsolated(const Board& board, int c) {
    if (c < 21 || c > 399) return false;
    for (int step : {-21, -20, -19, -1, 1, 19, 20, 21}) {
        int n = c + step;
        if (n < CellCount && !isEmptyCell(board, n)) return false;
    }
    return true;
}

void addLineThrees(int c, ThreatList& m) {
    auto lineThree = [](int k) { return k >= 8 && k <= 10; };
    int cell, k;
    while (m.current(cell, k) && !lineThree(k)) --m.cursor;
    int cx = cellX(c), cy = cellY(c);
    while (m.current(cell, k) && lineThree(k)) {
        int dx = std::abs(cellX(cell) - cx), dy = std::abs(cellY(cell) - cy);
        if ((dx == 0 && dy <= 4) || (dy == 0 && dx <= 4) || (dx == dy && dx <= 4)) add(cell);
        --m.cursor;
    }
}

void addDefences(Board& board, int t, int k) {
    int attacker = 1 - board.sideToMove_;
    int codes[LineCount];
    bool selected[LineCount] = {};
    int zeros = 0;
    for (int line = 0; line < LineCount; ++line) {
        codes[line] = emptyFormCode(board, t, line, attacker);
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
    add(t);
    if (zeros > 1) return;
    for (int line = 0; line < LineCount; ++line) {
        if (!selected[line]) continue;
        int start = segmentStart(board, t, line);
        int n = 0;
        for (int i = 0; i < SegmentMax; ++i) {
            if (defenceCell(codes[line], i) == 0) continue;
            add(start + i * ForwardStep[line]);
            ++n;
        }
        if (n == 3 && k == 1) tidyLastThree(board, line);
    }
}

int analyse(Board& board, int /*mode*/) {
    board.xThreats.settle();
    board.oThreats.settle();
    resultCount = 0;
    if (board.moveCount_ < 3) {
        append(openingReply(board));
        return 0;
    }

    ThreatList& m = board.moverThreats();
    ThreatList& p = board.opponentThreats();
    int mc = -1, pc = -1, a = NoThreat, b = NoThreat;
    m.cursor = m.count - 1;
    if (!m.current(mc, a)) a = NoThreat;
    if (a == 0) {
        append(mc);
        return 1;
    }
    p.cursor = p.count - 1;
    if (!p.current(pc, b)) b = NoThreat;
    if (b == 0) {
        append(pc);
        --p.cursor;
        int cell, k;
        return p.current(cell, k) && k == 0 ? -1 : 0;
    }

    bool quiet = b > 3;
    if (a <= 3) {
        append(mc);
        if (a <= 1) return 1;
        if (b <= 2) {
            --resultCount;
        } else {
            if (p.count == 0) return 1;
            int minD = 18, cell, k;
            while (p.current(cell, k)) {
                if (distanceOf(k) < minD) minD = distanceOf(k);
                --p.cursor;
            }
            if (minD > 1) return 1;
            p.cursor = p.count - 1;
            --resultCount;
            quiet = true;
        }
    }

    if (quiet)
        quietBranch(board);
    else
        answerThreats(board, b, pc);
    resetMarks();
    return 0;
}
