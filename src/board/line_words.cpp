#include "board/line_words.h"

#include <cstring>

namespace {

constexpr int PaddedPoints = 28;  // 4 off-board points, 20 on the board, 4 off

// Word and position along it of a cell's line; positions count from the
// backward end of the line (smaller x, or smaller y on a column).
constexpr void lineOf(int line, int cell, int& word, int& position) {
    const int x = cellX(cell), y = cellY(cell);
    switch (line) {
        case 0: word = y; position = x; break;
        case 1: word = 20 + x; position = y; break;
        case 2: word = 40 + x - y + 19; position = x; break;  // steps of +21
        default: word = 79 + x + y; position = x; break;      // steps of -19
    }
}

constexpr LinePlaces buildLinePlaces() {
    LinePlaces t{};
    for (auto& w : t.emptyWords) w = 0;
    for (auto& w : t.emptyWords)
        for (int i = 0; i < PaddedPoints; ++i) w |= PointOff << (2 * i);
    for (int line = 0; line < 4; ++line) {
        for (int cell = 0; cell < CellCount; ++cell) {
            int word = 0, position = 0;
            lineOf(line, cell, word, position);
            t.place[cell][line] = {static_cast<uint8_t>(word), static_cast<uint8_t>(2 * position)};
            t.emptyWords[word] &= ~(PointOff << (2 * (position + 4)));
        }
    }
    return t;
}

}  // namespace

constexpr LinePlaces linePlaces = buildLinePlaces();

void LineWords::clear() { std::memcpy(word, linePlaces.emptyWords, sizeof word); }

void LineWords::rebuild(const uint8_t* cells) {
    clear();
    for (int i = 0; i < CellCount; i += 8) {
        uint64_t eight;
        std::memcpy(&eight, cells + i, 8);
        if (!(eight & 0xC0C0C0C0C0C0C0C0ull)) continue;  // eight empty points
        for (int cell = i; cell < i + 8; ++cell) {
            if (isXByte(cells[cell]))
                place(cell, PointX);
            else if (isOByte(cells[cell]))
                place(cell, PointO);
        }
    }
}
