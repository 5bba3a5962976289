#pragma once
#include <cstdint>

#include "board/cell.h"

// Every line of the board (20 rows, 20 columns, 39 diagonals, 39
// anti-diagonals) as one word of 2-bit points. Four off-board points pad each
// end, so the nine points around a cell are one shift and mask away and a
// stone changes one word per line instead of every cell's scan.
constexpr int LineWordCount = 118;
constexpr uint64_t PointEmpty = 0;
constexpr uint64_t PointX = 1;
constexpr uint64_t PointO = 2;
constexpr uint64_t PointOff = 3;  // off the board: blocks both sides

// Where a cell sits on one of its lines: the word, and the shift of the first
// point of its nine-point window (the cell itself is the fifth point).
struct LinePlace {
    uint8_t word;
    uint8_t shift;
};

struct LinePlaces {
    LinePlace place[CellCount][4];  // by cell, then line (horizontal, vertical, diagonal, anti-diagonal)
    uint64_t emptyWords[LineWordCount];
};
extern const LinePlaces linePlaces;

struct LineWords {
    uint64_t word[LineWordCount];

    LineWords() { clear(); }

    void clear();
    // Rebuilt from cell bytes written directly (position loading).
    void rebuild(const uint8_t* cells);

    void place(int cell, uint64_t point) {
        for (int line = 0; line < 4; ++line) {
            const LinePlace& p = linePlaces.place[cell][line];
            word[p.word] |= point << (p.shift + 8);
        }
    }
    void remove(int cell) {
        for (int line = 0; line < 4; ++line) {
            const LinePlace& p = linePlaces.place[cell][line];
            word[p.word] &= ~(PointOff << (p.shift + 8));
        }
    }
    // The nine points of a cell on a line, 2 bits each: the four backward
    // points (far end first) in bits 0-7, the cell in bits 8-9 (readers
    // ignore it), the four forward points (near end first) in bits 10-17.
    // One shift and mask: no gap to close.
    uint32_t window(int line, int cell) const {
        const LinePlace& p = linePlaces.place[cell][line];
        return windowAt(word[p.word], p.shift);
    }
    // The window of the cell whose window starts at this shift of a line word.
    static uint32_t windowAt(uint64_t lineWord, int shift) {
        return static_cast<uint32_t>(lineWord >> shift) & 0x3FFFF;
    }
};
