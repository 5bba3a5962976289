#pragma once
#include <cstdint>
#include <iostream>
#include <memory>

#include "board/board.h"
#include "board/keys.h"
#include "board/packed_board.h"
#include "search/proof_node.h"
#include "search/search_context.h"
#include "search/proof_state.h"

// positionKey of a copy of board after makeMove(cell), without playing it.
inline PositionKey childKey(const Board& board, int cell) {
    return board.positionKey() ^ key(1 - board.sideToMove(), cell);
}

// Throws std::bad_alloc with nothing allocated.
ProofNode* createNode(ProofNode* parent, std::unique_ptr<Board> board);
// The same for a Board that stays the caller's; the node keeps it packed
// (packBoard, with playedFrom and laidOut).
ProofNode* createNode(ProofNode* parent, const Board& board, const PackedBoard* playedFrom = nullptr,
                      const PackedEntries* laidOut = nullptr);
// The node's position: its own board, or the move played on its parent's.
void nodePosition(const ProofNode* node, Board& board);
// False for a dead end. On allocation failure the node is left as it was and
// std::bad_alloc propagates.
bool expandNode(SearchContext& context, ProofNode* node, int level, std::ostream& out = std::cout);
ProofNode* selectMostProving(ProofNode* start, int level);
void setNumbers(ProofNode* node, int level);
ProofNode* updateAncestors(ProofNode* node, int level);
void deleteNode(ProofNode* node);
void deleteChildren(ProofNode* node);
// Throws std::bad_alloc with nothing changed.
void addParent(ProofNode* node, ProofNode* parent);
void removeParent(ProofNode* node, ProofNode* parent);

// Tries to prove that the side to move at root wins, until the context's
// moveDeadline is no more than margin ms away, the committed memory reaches memoryLimit with no
// root child left to prune, the root is decided or its numbers pass their limits.
// Returns the most promising root move (-1 if none); root->pn/dn then hold its numbers.
// Counts its moves in the context's node counter, reset first.
int proofNumberSearch(SearchContext& context, ProofNode* root, int32_t margin, int64_t memoryLimit, int level,
                      std::ostream& out = std::cout);

// Why the last proofNumberSearch stopped. Only Clock and Memory depend on
// more than the root's position and the estimates: an end on the clock at
// the first chance (a deadline already inside the margin) is one iteration.
// NoChildren: a root without children, answered without a report line.
enum class SearchEnd { Decided, NumbersPastLimits, Clock, Memory, NoChildren };
SearchEnd lastSearchEnd();
// The root's numbers in the last search's report line, before the root took
// those of its chosen move.
ProofNumbers reportedNumbers();

// Lets the next proofNumberSearch go on from the memory figure that the last
// one read, for a caller that allocates under a MiB between the two.
void carryMemoryReading();

// The numbers' arithmetic with -1 as infinity.
int32_t minNumber(int32_t a, int32_t b);
int32_t addNumbers(int32_t a, int32_t b);  // finite sums saturate at INT32_MAX
std::string numberText(int32_t n);         // "OO" for infinity
std::string reportLine(int32_t nodes, int32_t pn, int32_t dn);
// n in decimal at `at` (20 bytes hold any), returning the end of its text:
// the report and progress lines are put together without a stream's formatting.
char* putDecimal(char* at, int64_t n);
// The report line's text at `at`, returning its end; 40 bytes hold any.
char* putReportLine(char* at, int32_t nodes, int32_t pn, int32_t dn);
// "MESSAGE " and the report line, written and flushed as one line.
void writeReportLine(std::ostream& out, int32_t nodes, int32_t pn, int32_t dn);
// Index of the root child to cut under memory pressure.
int worstRootChild(const ProofNode* root);
// Whether root-child result a (by cell) is a strictly better choice than b.
bool betterChoice(int a, int b);
// The best cell recorded in workByCell/numbersByCell, scanning cells in order; -1 if none.
int chooseRootMove();
