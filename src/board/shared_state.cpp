#include "board/shared_state.h"

int32_t nodeCounter = 0;

int32_t resultCells[CellCount] = {};
int32_t resultCount = 0;
uint8_t resultMarks[CellCount] = {};
