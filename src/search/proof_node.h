#pragma once
#include <cstdint>

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
constexpr uint32_t BoardBeforeMove = 128;  // board holds the position before move, not the node's own
constexpr uint32_t InNodeTable = 256;      // the node table took the node (it may have dropped it since)
constexpr int MaxChildren = 255;         // the child count is 8 bits
constexpr int MaxParents = 255;          // so is the parent count

// A packed position held by the node it belongs to and by the children of
// that node not yet expanded, which play their move on it when they are; the
// last holder frees it. Most children are never expanded, so they neither
// play their move nor keep a position of their own.
struct alignas(8) NodeBoard {
    uint32_t holders = 1;
    PackedBoard* packed() { return reinterpret_cast<PackedBoard*>(this + 1); }
    const PackedBoard* packed() const { return reinterpret_cast<const PackedBoard*>(this + 1); }
};
static_assert(sizeof(NodeBoard) == 8);  // the PackedBoard after it stays aligned for 8 bytes

// A position of the proof-number graph. Transpositions below the root share one
// node, so a node may have several parents; it is deleted by the last of them.
struct ProofNode {
    uint32_t work = 0;  // effort spent below the node
    int16_t depth = 0;
    uint32_t stamp = 0;
    PositionKey key;
    uint32_t flags = OrFlag;
    NodeBoard* board = nullptr;  // unpacked only to expand the node (see BoardBeforeMove)
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
