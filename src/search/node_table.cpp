#include "search/node_table.h"

#include <new>

#include "search/proof_number_search.h"
#include "search/shared_state.h"

ProofNode* NodeTable::find(const PositionKey& key) const {
    ProofNode* node = slots[slotOf(key)];
    return node && node->key == key ? node : nullptr;
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
