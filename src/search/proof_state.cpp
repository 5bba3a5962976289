#include "search/proof_state.h"

uint32_t idCounter = 0;
int32_t workByCell[CellCount];
ProofNumbers numbersByCell[CellCount];
NodeTable* nodeTable = nullptr;
int32_t pnEst[EstimateCount] = {};
int32_t dnEst[EstimateCount] = {};
