#pragma once
#include <cstdint>

#include "search/proof_state.h"

// Reads pnEst and dnEst (search/proof_state.h) from the data folder's
// estimate tables (platform::ProofEstimatePath, DisproofEstimatePath): 45 whitespace-separated integers each. A missing file
// gives all ones; the entries from the first value that fails to read on stay 0.
// Also resets the id counter.
void loadEstimates();

// The estimate entry of a child index; indices past the table take its last entry.
inline int estimateIndex(int childIndex) { return childIndex < EstimateCount ? childIndex : EstimateCount - 1; }
