#include "search/proof_numbers.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "search/proof_memory.h"
#include "search/proof_state.h"

bool isLeftOut(const ProofNode* child, int level) {
    return child->expansion() == DeadEnd && child->tag() <= level;
}

// An infinite number compares larger than every finite one.
bool lessNumber(int32_t a, int32_t b) {
    if (a == b) return false;
    if (a == Infinite) return false;
    if (b == Infinite) return true;
    return a < b;
}

int32_t minNumber(int32_t a, int32_t b) { return lessNumber(b, a) ? b : a; }

int32_t addNumbers(int32_t a, int32_t b) {
    if (a == Infinite || b == Infinite) return Infinite;
    const int64_t sum = static_cast<int64_t>(a) + b;
    return sum > INT32_MAX ? INT32_MAX : static_cast<int32_t>(sum);
}

namespace {

void pushOtherParents(const ProofNode* node, std::vector<ProofNode*>& queue) {
    for (int i = 0; i < node->parentCount; ++i) {
        if (node->parent(i) == node->currentParent) continue;
        if (queue.size() == queue.capacity()) countAllocation(2 * (queue.capacity() + 1) * sizeof(ProofNode*));
        queue.push_back(node->parent(i));
    }
}

ProofNode* nextUp(const ProofNode* node) {
    if (node->parentCount == 0) return nullptr;
    return node->parentCount == 1 ? node->onlyParent : node->currentParent;
}

}  // namespace

ProofNode* selectMostProving(ProofNode* start, int level) {
    ProofNode* node = start;
    node->stamp = idCounter;
    while (node->expansion() == Expanded && node->tag() <= level) {
        ProofNode* next = nullptr;
        for (int i = 0; i < node->childCount && !next; ++i) {
            ProofNode* child = node->children[i];
            if (isLeftOut(child, level)) continue;
            if (node->isOr() ? child->pn == node->pn : child->dn == node->dn) next = child;
        }
        // Numbers that no child explains are repaired by expanding the node again.
        if (!next) break;
        next->currentParent = node;
        next->stamp = idCounter;
        node = next;
    }
    return node;
}

void setNumbers(ProofNode* node, int level) {
    if (node->decided()) return;
    if (node->expansion() == NotExpanded) {
        node->pn = node->dn = 1;
        return;
    }
    const bool orNode = node->isOr();
    bool counted = false;
    int32_t least = Infinite;
    int32_t sum = 0;
    for (int i = 0; i < node->childCount; ++i) {
        const ProofNode* child = node->children[i];
        if (isLeftOut(child, level)) continue;
        // For an OR node: mine = pn, theirs = dn; the AND node mirrors it.
        const int32_t mine = orNode ? child->pn : child->dn;
        const int32_t theirs = orNode ? child->dn : child->pn;
        if (mine == 0) {  // proven at an OR node, disproven at an AND node
            node->pn = orNode ? 0 : Infinite;
            node->dn = orNode ? Infinite : 0;
            return;
        }
        if (theirs == 0) continue;
        counted = true;
        least = minNumber(least, mine);
        sum = addNumbers(sum, theirs);
    }
    // No child left that can change the outcome: the side to move has no
    // move that helps it, as at a dead end.
    if (!counted) {
        node->pn = orNode ? Infinite : 0;
        node->dn = orNode ? 0 : Infinite;
        return;
    }
    node->pn = orNode ? least : sum;
    node->dn = orNode ? sum : least;
}

ProofNode* updateAncestors(ProofNode* node, int level) {
    std::vector<ProofNode*> queue;  // other parents still to update, last in first out
    ProofNode* last = node;
    if (node->decided()) {
        node->work += idCounter - node->stamp;
        if (node->parentCount == 0) return node;
        if (node->parentCount > 1) pushOtherParents(node, queue);
        node = nextUp(node);
    }
    bool changed = true;
    while (node && changed) {
        node->work += idCounter - node->stamp;
        const int32_t pnBefore = node->pn, dnBefore = node->dn;
        setNumbers(node, level);
        changed = node->pn != pnBefore || node->dn != dnBefore;
        last = node;
        if (node->parentCount > 1) pushOtherParents(node, queue);
        node = nextUp(node);
    }
    while (!queue.empty()) {
        ProofNode* other = queue.back();
        queue.pop_back();
        updateAncestors(other, level);
    }
    return last;
}
