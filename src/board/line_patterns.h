#pragma once
#include <array>
#include <cstdint>
#include <string_view>

#include "board/cell.h"
#include "board/line_words.h"

// Line codes: for a cell, a line and a side, the stretch of at most nine
// points the side could still use (own stones and empty points, cut at the
// first opposing stone or the edge), written as a sentinel bit followed by
// one bit per point, the far backward end most significant. The stone form
// counts the cell as an own stone, the empty form counts it as empty.

constexpr int LineCount = 4;  // horizontal, vertical, diagonal, anti-diagonal
constexpr int SegmentMax = 9;
constexpr int CodeCount = 1024;
constexpr int ClassCount = 19;
constexpr int NoThreat = 18;       // threat class "nothing"
constexpr int WeakestListed = 13;  // classes 0..13 are listed

inline constexpr int BackwardStep[LineCount] = {-1, -20, -21, 19};
inline constexpr int ForwardStep[LineCount] = {1, 20, 21, -19};
// Reach-table direction (an index into ReachSteps) of each line's rays.
inline constexpr int BackwardReach[LineCount] = {0, 2, 4, 7};
inline constexpr int ForwardReach[LineCount] = {1, 3, 5, 6};

// Per threat class. Readers of winDistance and threatDepth map class 2 to 1 first.
inline constexpr int32_t threatWeight[ClassCount] = {2047, 511, 400, 300, 256, 230, 210,
                                                     200,  58,  50,  30,  30,  5,   5,
                                                     1,    1,   1,   1,   0};
inline constexpr int32_t winDistance[ClassCount] = {0, 1, 2, 2, 1, 2, 2, 1, 2, 3,
                                                    2, 2, 1, 2, 3, 3, 3, 3, 5};
inline constexpr int32_t threatDepth[ClassCount] = {0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                                    2, 1, 1, 2, 2, 3, 2, 3, 5};

// The listed classes by what the side would have there, as `state` names them
// for the board page.
inline constexpr std::string_view threatClassNames[WeakestListed + 1] = {
    "five",          "open four or two fours", "four and open three",     "two open threes",
    "four and three", "open three and three",  "open three and open two", "four and open two",
    "two threes",    "two open twos",          "three and open two",      "open three",
    "four",          "three"};

constexpr int readClass(int threatClass) { return threatClass == 2 ? 1 : threatClass; }

struct PatternTables {
    std::array<int8_t, CodeCount> lineClass{};    // stone-form code -> 0, 1, 11, 12, 13, 16, 17, 18
    std::array<int8_t, 361> pairClass{};          // 19*a + b -> threat class, -1 off the line classes
    std::array<int8_t, CodeCount> lineDistance{}; // empty-form code -> 0..6
    std::array<std::array<int8_t, SegmentMax>, CodeCount> defenceCell{};
};

extern const PatternTables patternTables;

inline int lineClass(int code) { return patternTables.lineClass[code]; }
inline int pairClass(int a, int b) { return patternTables.pairClass[19 * a + b]; }
inline int lineDistance(int code) { return patternTables.lineDistance[code]; }
// Non-zero when occupying point i (counted from the far backward end) of the
// segment raises its line distance: a defence point of that line.
inline int defenceCell(int code, int i) { return patternTables.defenceCell[code][i]; }

// The same classification read from the line words: a window of the eight
// neighbours on each line names both sides' line classes at once, and the
// four lines' classes name the threat classes. The Board's own evaluation
// uses it; classifyByScanning reads the cell bytes point by point and is the
// reference the Board's self-check and the tests hold it to.
struct WindowTables {
    // Window (LineWords::window) -> the line-class ranks (LineClassRanks) of
    // side 1 in bits 0-2 and of side 0 in bits 3-5; windowRanks spreads them
    // to the cell-rank bits, whatever the cell's own point. A byte a window
    // keeps the table small, which the caches notice: every move and probe
    // reads it, and only the quarter with an empty cell is ever read often.
    std::array<uint8_t, 1 << 18> lineRankBytes{};
    // Four line-class ranks, 3 bits each -> the threat class of the cell.
    std::array<int8_t, 1 << 12> threatClass{};
};
// The line classes in increasing order; a rank is an index into it.
inline constexpr int LineClassRanks[8] = {0, 1, 11, 12, 13, 16, 17, 18};
extern const WindowTables windowTables;

// Cell ranks: the line-class ranks of the four lines through a cell, 3 bits
// per line in line order, side 1's in bits 0-11 and side 0's in bits 16-27.
constexpr uint32_t LineRankMask = 7 | 7 << 16;  // of line 0

// The ranks of a window, in the cell-rank bits of the line.
constexpr uint32_t windowRanks(uint32_t window, int line) {
    // v + (v << 13) puts side 0's bits 3-5 at 16-18 and side 1's stay at 0-2.
    return ((windowTables.lineRankBytes[window] * 0x2001u) & LineRankMask) << (3 * line);
}

inline uint32_t lineRanks(const LineWords& lines, int line, int cell) {
    return windowRanks(lines.window(line, cell), line);
}

inline uint32_t cellRanks(const LineWords& lines, int cell) {
    return lineRanks(lines, 0, cell) | lineRanks(lines, 1, cell) | lineRanks(lines, 2, cell) |
           lineRanks(lines, 3, cell);
}

inline void classesOfRanks(uint32_t ranks, int& xClass, int& oClass) {
    xClass = windowTables.threatClass[ranks & 0xFFF];
    oClass = windowTables.threatClass[ranks >> 16];
}

// The cell ranks of every cell of the empty board.
extern const std::array<uint32_t, CellCount> emptyBoardRanks;

// Readers of the 400 cell bytes of a position.
// Both sides' stone-form codes of one line through an empty cell, in one pass.
void lineCodes(const uint8_t* cells, int cell, int line, int& x, int& o);
// The empty-form code of `side` (1 'x', 0 'o') on one line through a cell.
int emptyFormCode(const uint8_t* cells, int cell, int line, int side);
// Threat classes of an empty cell for both sides (0..18), from lineCodes.
void classifyByScanning(const uint8_t* cells, int cell, int& xClass, int& oClass);
