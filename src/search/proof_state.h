#pragma once
#include <cstdint>

#include "board/cell.h"

struct NodeTable;

// Process-wide state of the proof-number search (single thread, one search at a time).
// Proof-number search. Every node creation takes idCounter + 1 as its stamp and
// advances the counter by 2; only loadEstimates resets it.
extern uint32_t idCounter;

struct ProofNumbers {
    int32_t pn;
    int32_t dn;
};
// Results of the root children of the last proof-number search, by their move;
// workByCell is -1 for a cell that was no root child's move.
extern int32_t workByCell[CellCount];
extern ProofNumbers numbersByCell[CellCount];

// Created at start-up, released at exit; null while no table exists.
extern NodeTable* nodeTable;

// Initial numbers of a new undecided child, by its index in the parent's list.
constexpr int EstimateCount = 45;
extern int32_t pnEst[EstimateCount];
extern int32_t dnEst[EstimateCount];
