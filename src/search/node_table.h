#pragma once
#include <cstdint>

#include "board/keys.h"

struct ProofNode;

constexpr uint32_t NodeTableSlots = 1u << 19;

// 32 - log2(slotCount), worked out by doubling from 2 while counting down from 31.
constexpr uint32_t slotShiftFor(uint32_t slotCount) {
    uint32_t shift = 31;
    for (uint32_t n = 2; n < slotCount; n *= 2) --shift;
    return shift;
}

// One slot per key, the newest entry wins; the table does not own the nodes.
struct NodeTable {
    uint32_t slotShift = slotShiftFor(NodeTableSlots);
    ProofNode* slots[NodeTableSlots] = {};
    // Slots in use. The table is far too big for the caches, so while it
    // holds nothing no look-up reads it, and insertions wait in `pending`,
    // in order, until it is next read: a search of one iteration removes its
    // nodes again before that and never touches the table at all.
    uint32_t slotsHeld = 0;
    static constexpr int PendingMax = 256;
    ProofNode* pending[PendingMax];
    int pendingCount = 0;  // only while slotsHeld is 0

    uint32_t slotOf(const PositionKey& key) const { return key.low >> slotShift; }
    // The node in the key's slot if its key matches in both words, else null.
    ProofNode* find(const PositionKey& key);
    bool empty() const { return slotsHeld == 0 && pendingCount == 0; }
    // What find gives when the table held nothing before the nodes among
    // `nodes` that it took: the newest of them in the key's slot, if its key
    // matches. The table itself is not read.
    ProofNode* findInserted(ProofNode* const* nodes, int n, const PositionKey& key) const;
    // Reads the slots of keys about to be looked up, and the nodes in them,
    // all at once: the table and the nodes are far apart in memory, and the
    // waits for them overlap when the reads do not depend on each other.
    void preload(const PositionKey* keys, int n);
    void insert(ProofNode* node);
    // Clears the node's slot only if the slot still refers to this node; a
    // node never inserted costs no read of the table.
    void remove(const ProofNode* node);

private:
    void place(ProofNode* node);
    void placePending();
    void removePending(const ProofNode* node);
};

// Sets nodeTable (search/proof_state.h). Without a table the proof-number
// search runs on, only without sharing transpositions.
bool createNodeTable();
void releaseNodeTable();
