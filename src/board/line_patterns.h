#pragma once
#include <array>
#include <cstdint>

#include "board/board.h"

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

// Both sides' stone-form codes of one line through an empty cell, in one pass.
void lineCodes(const Board& board, int cell, int line, int& x, int& o);
// The empty-form code of `side` (1 'x', 0 'o') on one line through a cell.
int emptyFormCode(const Board& board, int cell, int line, int side);
// Threat classes of an empty cell for both sides (0..18).
void classifyCell(const Board& board, int cell, int& xClass, int& oClass);
