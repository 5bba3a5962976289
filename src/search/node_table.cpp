#include "search/node_table.h"

#include <new>

#include "search/proof_node.h"
#include "search/shared_state.h"

ProofNode* NodeTable::find(const PositionKey& key) const {
    ProofNode* node = slots[slotOf(key)];
    return node && node->key == key ? node : nullptr;
}

namespace {

volatile uint32_t preloadSink;  // keeps preload's reads

}  // namespace

void NodeTable::preload(const PositionKey* keys, int n) const {
    uint32_t seen = 0;
    for (int i = 0; i < n; ++i) {
        const ProofNode* node = slots[slotOf(keys[i])];
        if (node) seen += node->key.high;
    }
    preloadSink = seen;
}

void NodeTable::insert(ProofNode* node) { slots[slotOf(node->key)] = node; }

void NodeTable::remove(const ProofNode* node) {
    ProofNode*& slot = slots[slotOf(node->key)];
    if (slot == node) slot = nullptr;
}

bool createNodeTable() {
    if (!nodeTable) nodeTable = new (std::nothrow) NodeTable;
    return nodeTable != nullptr;
}

void releaseNodeTable() {
    delete nodeTable;
    nodeTable = nullptr;
}
