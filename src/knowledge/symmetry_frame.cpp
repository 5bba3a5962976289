#include "knowledge/symmetry_frame.h"

#include <utility>

#include "board/cell.h"
#include "knowledge/database_error.h"

namespace {

void quarterTurn(int& dx, int& dy) {
    const int oldDx = dx;
    dx = dy;
    dy = -oldDx;
}

void settleSecondMove(SymmetryFrame& f, int& dx, int& dy) {
    while (dx <= 0 || dy < 0) {
        f.quarterTurns += 1;
        quarterTurn(dx, dy);
    }
    if (dy > dx) {
        std::swap(dx, dy);
        f.swapped = f.axisSettled = f.diagonalSettled = true;
    } else if (dy < dx) {
        f.diagonalSettled = true;
    }
    if (dy != 0) f.axisSettled = true;
}

void applyFrame(SymmetryFrame& f, int& dx, int& dy) {
    for (int i = 0; i < f.quarterTurns; ++i) quarterTurn(dx, dy);
    if (f.swapped) std::swap(dx, dy);
    if (f.mirrored) dy = -dy;
    if (!f.diagonalSettled && dy != dx) {
        if (dy > dx) {
            std::swap(dx, dy);
            f.swapped = true;
        }
        f.diagonalSettled = f.axisSettled = true;
    }
    if (!f.axisSettled && dy != 0) {
        if (dy < 0) {
            dy = -dy;
            f.mirrored = true;
        }
        f.diagonalSettled = f.axisSettled = true;
    }
}

}  // namespace

int normalise(SymmetryFrame& frame, int cell) {
    if (cell < 0 || cell >= CellCount) throw DatabaseError{};
    SymmetryFrame f = frame;
    const int x = cellX(cell);
    const int v = 19 - cellY(cell);
    if (f.movesSeen == 0) {
        f.originX = 9 - x;
        f.originY = 9 - v;
    }
    int dx = x + f.originX - 9;
    int dy = v + f.originY - 9;
    if (f.movesSeen == 1) {
        // On the first move's cell no number of turns would ever end the loop.
        if (dx == 0 && dy == 0) throw DatabaseError{};
        settleSecondMove(f, dx, dy);
    } else {
        applyFrame(f, dx, dy);
    }
    const int key = NormalisedFirstMove + dx + BoardSize * dy;
    if (key < 0 || key >= CellCount) throw DatabaseError{};
    f.movesSeen += 1;
    frame = f;
    return key;
}

int denormalise(const SymmetryFrame& frame, int key) {
    if (key < 0 || key >= CellCount) throw DatabaseError{};
    int dx = key % BoardSize - 9;
    int dy = key / BoardSize - 9;
    if (frame.swapped) std::swap(dx, dy);
    if (frame.mirrored) dy = -dy;
    if (frame.quarterTurns != 0)
        for (int i = 0; i < 4 - frame.quarterTurns; ++i) quarterTurn(dx, dy);
    const int x = dx + 9 - frame.originX;
    const int y = frame.originY - dy + 10;
    if (!onBoard(x, y)) throw DatabaseError{};
    return cellAt(x, y);
}
