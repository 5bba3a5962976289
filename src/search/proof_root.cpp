#include "search/proof_root.h"

#include <algorithm>
#include <climits>

#include "search/proof_numbers.h"
#include "search/proof_state.h"

namespace {

int32_t clampedWork(uint32_t work) { return static_cast<int32_t>(std::min<uint32_t>(work, INT32_MAX)); }

}  // namespace

void recordRootChild(const ProofNode* child) {
    workByCell[child->move] = clampedWork(child->work);
    numbersByCell[child->move] = {child->pn, child->dn};
}

void removeRootChild(ProofNode* root, int index) {
    recordRootChild(root->children[index]);
    deleteNode(root->children[index]);
    std::copy(root->children + index + 1, root->children + root->childCount, root->children + index);
    --root->childCount;
}

bool deleteHopelessRootChildren(ProofNode* root, const ProofSearchEvents& events) {
    bool deleted = false;
    for (int i = 0; i < root->childCount;) {
        const ProofNode* child = root->children[i];
        if (root->isOr() ? child->dn == 0 : child->pn == 0) {
            removeRootChild(root, i);
            if (events.rootChildDeleted) events.rootChildDeleted();
            deleted = true;
        } else {
            ++i;
        }
    }
    return deleted;
}

int worstRootChild(const ProofNode* root) {
    int worst = 0;
    for (int i = 1; i < root->childCount; ++i) {
        const ProofNode* a = root->children[i];
        const ProofNode* w = root->children[worst];
        if (lessNumber(w->pn, a->pn) || (a->pn == w->pn && lessNumber(a->dn, w->dn))) worst = i;
    }
    return worst;
}

bool betterChoice(int a, int b) {
    const ProofNumbers& x = numbersByCell[a];
    const ProofNumbers& y = numbersByCell[b];
    if (x.pn != y.pn) return lessNumber(x.pn, y.pn);
    if (x.dn != y.dn) return lessNumber(y.dn, x.dn);
    return workByCell[a] > workByCell[b];
}

int considerRootMove(int choice, int cell) {
    return workByCell[cell] >= 0 && (choice < 0 || betterChoice(cell, choice)) ? cell : choice;
}

int chooseRootMove() {
    int choice = -1;
    for (int cell = 0; cell < CellCount; ++cell) choice = considerRootMove(choice, cell);
    return choice;
}
