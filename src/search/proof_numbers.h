#pragma once
#include <cstdint>

#include "search/proof_node.h"

// The proof and disproof numbers of the graph: their arithmetic with -1 as
// infinity, a node's numbers from its children's, the most-proving node and
// the update of the ancestors after an expansion.

int32_t minNumber(int32_t a, int32_t b);
int32_t addNumbers(int32_t a, int32_t b);  // finite sums saturate at INT32_MAX
// An infinite number compares larger than every finite one.
bool lessNumber(int32_t a, int32_t b);
// A dead end expanded at this level or below: left out of its parents' numbers.
bool isLeftOut(const ProofNode* child, int level);

ProofNode* selectMostProving(ProofNode* start, int level);
void setNumbers(ProofNode* node, int level);
ProofNode* updateAncestors(ProofNode* node, int level);
