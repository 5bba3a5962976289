#pragma once
#include <cstdint>
#include <iostream>
#include <memory>

#include "board/board.h"
#include "board/keys.h"
#include "board/packed_board.h"

// Proof and disproof numbers: 0 proven or disproven, -1 infinite.
constexpr int32_t Infinite = -1;

constexpr uint32_t OrFlag = 1;           // the attacker is to move
constexpr uint32_t ExpansionMask = 6;    // bits 1-2
constexpr uint32_t NotExpanded = 0;
constexpr uint32_t Expanded = 2;
constexpr uint32_t DeadEnd = 4;          // expanded, the analysis listed no move
constexpr int TagShift = 3;              // bits 3-6: level of the expansion
constexpr uint32_t TagMask = 15u << TagShift;
constexpr int MaxChildren = 255;         // the child count is 8 bits
constexpr int MaxParents = 255;          // so is the parent count

// A position of the proof-number graph. Transpositions below the root share one
// node, so a node may have several parents; it is deleted by the last of them.
struct ProofNode {
    uint32_t work = 0;  // effort spent below the node
    int16_t depth = 0;
    uint32_t stamp = 0;
    PositionKey key;
    uint32_t flags = OrFlag;
    PackedBoard* board = nullptr;  // in the node's own allocation; unpacked only to expand the node
    ProofNode* onlyParent = nullptr;     // while parentCount is 1
    ProofNode** parentArray = nullptr;   // while parentCount is 2 or more
    ProofNode** children = nullptr;
    uint8_t childCount = 0;
    uint8_t parentCount = 0;
    ProofNode* currentParent = nullptr;  // the parent the selection last came through
    int32_t pn = 1;
    int32_t dn = 1;
    int16_t move = -1;

    bool isOr() const { return flags & OrFlag; }
    uint32_t expansion() const { return flags & ExpansionMask; }
    int tag() const { return static_cast<int>((flags & TagMask) >> TagShift); }
    bool decided() const { return pn == 0 || dn == 0; }
    ProofNode* parent(int i) const { return parentCount == 1 ? onlyParent : parentArray[i]; }

    void setExpansion(uint32_t state) { flags = (flags & ~ExpansionMask) | state; }
    void setTag(int level) { flags = (flags & ~TagMask) | ((static_cast<uint32_t>(level) << TagShift) & TagMask); }
};

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
// False for a dead end. On allocation failure the node is left as it was and
// std::bad_alloc propagates.
bool expandNode(ProofNode* node, int level, std::ostream& out = std::cout);
ProofNode* selectMostProving(ProofNode* start, int level);
void setNumbers(ProofNode* node, int level);
ProofNode* updateAncestors(ProofNode* node, int level);
void deleteNode(ProofNode* node);
void deleteChildren(ProofNode* node);
// Throws std::bad_alloc with nothing changed.
void addParent(ProofNode* node, ProofNode* parent);
void removeParent(ProofNode* node, ProofNode* parent);

// Tries to prove that the side to move at root wins, until moveDeadline is no
// more than margin ms away, the committed memory reaches memoryLimit with no
// root child left to prune, the root is decided or its numbers pass their limits.
// Returns the most promising root move (-1 if none); root->pn/dn then hold its numbers.
int proofNumberSearch(ProofNode* root, int32_t margin, int64_t memoryLimit, int level,
                      std::ostream& out = std::cout);

// The numbers' arithmetic with -1 as infinity.
int32_t minNumber(int32_t a, int32_t b);
int32_t addNumbers(int32_t a, int32_t b);  // finite sums saturate at INT32_MAX
std::string numberText(int32_t n);         // "OO" for infinity
std::string reportLine(int32_t nodes, int32_t pn, int32_t dn);
// Index of the root child to cut under memory pressure.
int worstRootChild(const ProofNode* root);
// Whether root-child result a (by cell) is a strictly better choice than b.
bool betterChoice(int a, int b);
// The best cell recorded in workByCell/numbersByCell, scanning cells in order; -1 if none.
int chooseRootMove();
