#pragma once
#include "board/board.h"

// The moves the forced-move analysis lists, in its order. Every analysis
// overwrites them, so a caller that runs further analyses while it walks
// them copies them first or gives those analyses a list of their own.
struct AnalysisResult {
    int32_t resultCells[CellCount];
    int32_t resultCount = 0;
    uint8_t resultMarks[CellCount] = {};  // the listed cells while it runs; all 0 between analyses
};

// The forced-move analysis, the engine's only move generator. Leaves its
// moves in `result` and returns +1 (the side to move wins), -1 (it is lost)
// or 0 (then at least one move is listed whenever the board has an empty
// point). Lays out both lists.
int analyse(const Board& board, AnalysisResult& result);

// Adds to the result list the cells that answer the threat of class k at cell
// t of the side not to move: t itself and the defence points of its lines.
void addDefences(const Board& board, int t, int k, AnalysisResult& result);

// Adds the cells of a list's entries from `from` on, of classes 8..10, that
// lie within four points of c on one of c's lines.
void addLineThrees(int c, ThreatList::Iterator from, ThreatList::Iterator end, AnalysisResult& result);

// True when the eight neighbours of c are all empty; never for c below 21.
// Neighbours past the last cell count as empty.
bool isIsolated(const Board& board, int c);
