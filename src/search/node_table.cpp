#include "search/node_table.h"

#include <new>

#include "search/proof_node.h"
#include "search/shared_state.h"

ProofNode* NodeTable::find(const PositionKey& key) const {
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

void NodeTable::preload(const PositionKey* keys, int n) const {
    if (slotsHeld == 0) return;
    uint32_t seen = 0;
    for (int i = 0; i < n; ++i) {
        const ProofNode* node = slots[slotOf(keys[i])];
        if (node) seen += node->key.high;
    }
    preloadSink = seen;
}

void NodeTable::insert(ProofNode* node) {
    ProofNode*& slot = slots[slotOf(node->key)];
    slotsHeld += slot == nullptr;
    slot = node;
    node->flags |= InNodeTable;
}

void NodeTable::remove(const ProofNode* node) {
    if (!(node->flags & InNodeTable)) return;
    ProofNode*& slot = slots[slotOf(node->key)];
    if (slot != node) return;
    slot = nullptr;
    --slotsHeld;
}

bool createNodeTable() {
    if (!nodeTable) nodeTable = new (std::nothrow) NodeTable;
    return nodeTable != nullptr;
}

void releaseNodeTable() {
    delete nodeTable;
    nodeTable = nullptr;
}
