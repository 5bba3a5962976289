#pragma once
#include <cstdint>

#include "search/proof_graph.h"
#include "search/proof_node.h"
#include "search/proof_numbers.h"
#include "search/proof_root.h"
#include "search/proof_state.h"
#include "search/search_context.h"

// Why a proofNumberSearch stopped. Only Clock and Memory depend on more than
// the root's position and the estimates: an end on the clock at the first
// chance (a deadline already inside the margin) is one iteration.
// NoChildren: a root without children, answered without a report.
enum class SearchEnd { Decided, NumbersPastLimits, Clock, Memory, NoChildren };

// What a search found, for its caller to report.
struct ProofSearchResult {
    int move = -1;  // the most promising root move, -1 if none
    SearchEnd end = SearchEnd::Decided;
    int32_t nodes = 0;               // moves played by its expansions (the context's node counter)
    ProofNumbers rootNumbers = {1, 1};  // the root's at the end, before it took its move's
    int32_t elapsedMs = 0;              // from the first iteration to the end
    int64_t iterations = 0;
    // False for a root the first expansion left without children, answered
    // from the analysis alone: the fields above then say nothing.
    bool searched = false;
};

// Tries to prove that the side to move at root wins, until the context's
// moveDeadline is no more than margin ms away, the committed memory reaches
// memoryLimit with no root child left to prune, the root is decided or its
// numbers pass their limits. Counts its moves in the context's node counter,
// reset first; tells events of its pruning. The result's move is the most
// promising root move; root->pn/dn then hold its numbers.
ProofSearchResult proofNumberSearch(SearchContext& context, ProofNode* root, int32_t margin, int64_t memoryLimit,
                                    int level, const ProofSearchEvents& events = {});
