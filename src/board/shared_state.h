#pragma once
#include <cstdint>

#include "board/cell.h"

// Process-wide state of the board subsystem. Single thread; every analysis
// overwrites the result list, so recursive callers copy what they need first.
extern int32_t nodeCounter;  // makeMove calls, reset and reported by the searches

extern int32_t resultCells[CellCount];
extern int32_t resultCount;
extern uint8_t resultMarks[CellCount];  // all 0 between analyses
