#include "search/proof_number_search.h"

#include <algorithm>
#include <new>

#include "board/analysis.h"
#include "platform/clock.h"
#include "search/proof_memory.h"

namespace {

// A root that the first expansion leaves without children: its move is the
// analysis' first.
ProofSearchResult answerWithoutChildren(SearchContext& context, const ProofNode* root, bool memoryShort) {
    ProofSearchResult result;
    result.end = memoryShort ? SearchEnd::Memory : SearchEnd::NoChildren;
    Board rootPosition;
    nodePosition(root, rootPosition);
    analyse(rootPosition, context.analysis);
    result.move = context.analysis.resultCount > 0 ? context.analysis.resultCells[0] : -1;
    return result;
}

// The root children's moves in cell order, each with an empty record: only
// they take part in the choice at the end.
int listRootCells(const ProofNode* root, int (&rootCells)[MaxChildren]) {
    std::fill(workByCell, workByCell + CellCount, -1);
    for (int i = 0; i < root->childCount; ++i) {
        workByCell[root->children[i]->move] = 0;
        rootCells[i] = root->children[i]->move;
    }
    std::sort(rootCells, rootCells + root->childCount);
    return root->childCount;
}

// The root move of the best record, the root taking its numbers. Only a
// pruned child's work is kept; the remaining ones count as 0 there.
int chooseAmongRootCells(ProofNode* root, const int* rootCells, int count) {
    for (int i = 0; i < root->childCount; ++i) {
        const ProofNode* child = root->children[i];
        numbersByCell[child->move] = {child->pn, child->dn};
    }
    int choice = -1;
    for (int i = 0; i < count; ++i) choice = considerRootMove(choice, rootCells[i]);
    if (choice >= 0) {
        root->pn = numbersByCell[choice].pn;
        root->dn = numbersByCell[choice].dn;
    }
    return choice;
}

// Iterations until the root is decided, its numbers pass their limits, the
// clock reaches the margin (after one iteration at least) or memory runs
// short; false for the last.
bool iterate(SearchContext& context, ProofNode* root, ProofNode*& current, int32_t margin, int64_t memoryLimit,
             int level, const ProofSearchEvents& events, ProofSearchResult& result) {
    while (!root->decided()) {
        if (platform::clockDiff(context.moveDeadline, platform::clockMs()) <= margin && result.iterations > 0) {
            result.end = SearchEnd::Clock;
            return true;
        }
        if (!memoryBelowLimit(memoryLimit)) return false;
        // Updates through other parents can decide the node where the last
        // update stopped; nothing below it can then help the root.
        if (current->decided()) current = root;
        try {
            ProofNode* m = selectMostProving(current, level);
            expandNode(context, m, level, events);
            current = updateAncestors(m, level);
        } catch (const std::bad_alloc&) {
            return false;
        }
        ++result.iterations;
        if (root->pn > 10000000 || root->dn > 100000000) {
            result.end = SearchEnd::NumbersPastLimits;
            return true;
        }
    }
    return true;
}

// Under memory pressure: the hopeless root children go first, then the worst
// of an OR root one at a time. False when nothing is left to prune.
bool pruneRoot(ProofNode* root, int level, const ProofSearchEvents& events) {
    if (root->decided() || root->childCount < 2) return false;
    if (deleteHopelessRootChildren(root, events)) return root->childCount > 0;
    if (!root->isOr()) return false;
    removeRootChild(root, worstRootChild(root));
    setNumbers(root, level);
    if (events.rootChildCut) events.rootChildCut();
    return true;
}

}  // namespace

ProofSearchResult proofNumberSearch(SearchContext& context, ProofNode* root, int32_t margin, int64_t memoryLimit,
                                    int level, const ProofSearchEvents& events) {
    startMemoryAccounting(memoryLimit);
    bool memoryShort = false;  // sticks: the search then depended on the memory figure
    if (root->expansion() == NotExpanded || root->tag() < level) {
        try {
            expandNode(context, root, level, events);
        } catch (const std::bad_alloc&) {
            // No room even for the root's children: answer as for a decided root.
            memoryShort = true;
        }
        setNumbers(root, level);
    }
    if (root->childCount == 0) return answerWithoutChildren(context, root, memoryShort);
    int rootCells[MaxChildren];
    const int rootCellCount = listRootCells(root, rootCells);

    ProofSearchResult result;
    const int32_t start = platform::clockMs();
    context.nodeCounter = 0;
    ProofNode* current = root;
    for (;;) {
        const bool memoryOk = iterate(context, root, current, margin, memoryLimit, level, events, result);
        if (memoryOk) break;
        forgetMemoryReading();  // at the limit, or after a pruning freed memory: read afresh
        memoryShort = true;
        if (!pruneRoot(root, level, events)) break;
        current = root;
    }

    if (memoryShort) result.end = SearchEnd::Memory;
    result.nodes = context.nodeCounter;
    result.rootNumbers = {root->pn, root->dn};
    result.searched = true;
    result.elapsedMs = platform::clockDiff(platform::clockMs(), start);
    result.move = chooseAmongRootCells(root, rootCells, rootCellCount);
    return result;
}
