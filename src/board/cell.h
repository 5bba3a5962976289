#pragma once
#include <cstdint>

// Cell indices and cell bytes shared by every subsystem.
constexpr int BoardSize = 20;
constexpr int CellCount = 400;
constexpr int CentreCell = 189;  // x 9, y 9

constexpr uint8_t StoneX = 0x80;   // side 1, 'x'
constexpr uint8_t StoneO = 0x40;   // side 0, 'o'
constexpr uint8_t ListedO = 0x20;  // empty cell with an entry in oThreats
constexpr uint8_t ListedX = 0x10;  // empty cell with an entry in xThreats

constexpr int cellX(int cell) { return cell % BoardSize; }
constexpr int cellY(int cell) { return cell / BoardSize; }
constexpr int cellAt(int x, int y) { return x + BoardSize * y; }
constexpr bool onBoard(int x, int y) { return x >= 0 && x < BoardSize && y >= 0 && y < BoardSize; }

// Every loop of the engine classifies a byte by value, not by its bits.
constexpr bool isEmptyByte(uint8_t b) { return b < 64; }
constexpr bool isOByte(uint8_t b) { return b >= 64 && b < 128; }
constexpr bool isXByte(uint8_t b) { return b >= 128; }

// Reach tables: for direction d (an index into ReachSteps) and cell c, the
// cell k steps from c, k the smaller of 4 and the steps possible before the
// edge; reachCount gives k. Every scan of a line is bounded by them, since
// index arithmetic alone would wrap from one row to the next.
inline constexpr int ReachSteps[8] = {-1, 1, -20, 20, -21, 21, -19, 19};

struct ReachTables {
    int16_t cell[8][CellCount];
    int8_t count[8][CellCount];
};

constexpr ReachTables buildReachTables() {
    ReachTables t{};
    constexpr int dx[8] = {-1, 1, 0, 0, -1, 1, 1, -1};
    constexpr int dy[8] = {0, 0, -1, 1, -1, 1, -1, 1};
    for (int d = 0; d < 8; ++d) {
        for (int c = 0; c < CellCount; ++c) {
            int k = 0;
            while (k < 4 && onBoard(cellX(c) + (k + 1) * dx[d], cellY(c) + (k + 1) * dy[d])) ++k;
            t.cell[d][c] = static_cast<int16_t>(c + k * ReachSteps[d]);
            t.count[d][c] = static_cast<int8_t>(k);
        }
    }
    return t;
}

inline constexpr ReachTables reachTables = buildReachTables();

inline int reach(int direction, int cell) { return reachTables.cell[direction][cell]; }
inline int reachCount(int direction, int cell) { return reachTables.count[direction][cell]; }
