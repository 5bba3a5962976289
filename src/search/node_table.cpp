#include "search/node_table.h"

#include <new>

#include "search/proof_node.h"
#include "search/proof_state.h"

ProofNode* NodeTable::find(const PositionKey& key) {
    placePending();
    if (slotsHeld == 0) return nullptr;
    ProofNode* node = slots[slotOf(key)];
    return node && node->key == key ? node : nullptr;
}

ProofNode* NodeTable::findInserted(ProofNode* const* nodes, int n, const PositionKey& key) const {
    for (int i = n - 1; i >= 0; --i) {
        ProofNode* node = nodes[i];
        if (!(node->flags & InNodeTable) || slotOf(node->key) != slotOf(key)) continue;
        return node->key == key ? node : nullptr;
    }
    return nullptr;
}

namespace {

volatile uint32_t preloadSink;  // keeps preload's reads

}  // namespace

void NodeTable::preload(const PositionKey* keys, int n) {
    placePending();
    if (slotsHeld == 0) return;
    uint32_t seen = 0;
    for (int i = 0; i < n; ++i) {
        const ProofNode* node = slots[slotOf(keys[i])];
        if (node) seen += node->key.high;
    }
    preloadSink = seen;
}

void NodeTable::insert(ProofNode* node) {
    node->flags |= InNodeTable;
    if (slotsHeld == 0 && pendingCount < PendingMax) {
        pending[pendingCount++] = node;
        return;
    }
    placePending();
    place(node);
}

void NodeTable::remove(const ProofNode* node) {
    if (!(node->flags & InNodeTable)) return;
    if (pendingCount > 0) {  // the slots hold nothing
        removePending(node);
        return;
    }
    ProofNode*& slot = slots[slotOf(node->key)];
    if (slot != node) return;
    slot = nullptr;
    --slotsHeld;
}

void NodeTable::place(ProofNode* node) {
    ProofNode*& slot = slots[slotOf(node->key)];
    slotsHeld += slot == nullptr;
    slot = node;
}

void NodeTable::placePending() {
    const int n = pendingCount;
    pendingCount = 0;
    for (int i = 0; i < n; ++i) place(pending[i]);
}

// As if the waiting insertions were made and then the removal: a node that
// holds its slot leaves it empty, older ones in that slot were pushed out
// by it; a node pushed out itself changes nothing.
void NodeTable::removePending(const ProofNode* node) {
    const uint32_t slot = slotOf(node->key);
    int newest = pendingCount - 1;
    while (newest >= 0 && slotOf(pending[newest]->key) != slot) --newest;
    if (newest < 0 || pending[newest] != node) return;
    int kept = 0;
    for (int i = 0; i < pendingCount; ++i)
        if (slotOf(pending[i]->key) != slot) pending[kept++] = pending[i];
    pendingCount = kept;
}

bool createNodeTable() {
    if (!nodeTable) nodeTable = new (std::nothrow) NodeTable;
    return nodeTable != nullptr;
}

void releaseNodeTable() {
    delete nodeTable;
    nodeTable = nullptr;
}
