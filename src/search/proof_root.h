#pragma once
#include <cstdint>

#include "search/proof_graph.h"
#include "search/proof_node.h"

// The root children's results (workByCell, numbersByCell in
// search/proof_state.h), their pruning under memory pressure and the choice
// of the root move.

// Keeps a root child's work and numbers by its move.
void recordRootChild(const ProofNode* child);
// Records and deletes root child `index`.
void removeRootChild(ProofNode* root, int index);
// Deletes the children that can no longer decide the root (disproven ones at
// an OR root, proven ones at an AND root), telling events of each; whether
// any went.
bool deleteHopelessRootChildren(ProofNode* root, const ProofSearchEvents& events);
// Index of the root child to cut under memory pressure.
int worstRootChild(const ProofNode* root);
// Whether root-child result a (by cell) is a strictly better choice than b.
bool betterChoice(int a, int b);
// The choice so far (-1 for none) with cell considered after it.
int considerRootMove(int choice, int cell);
// The best cell recorded in workByCell/numbersByCell, scanning cells in order; -1 if none.
int chooseRootMove();
