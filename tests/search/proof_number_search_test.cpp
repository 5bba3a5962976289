#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "board/analysis.h"
#include "platform/clock.h"
#include "platform/memory.h"
#include "protocol/proof_lines.h"
#include "search/node_table.h"
#include "search/proof_number_search.h"
#include "search/proof_state.h"
#include "search_test_support.h"

namespace {

// x to move; three scattered x stones against o stones on the edge: a win
// that the search proves within a few thousand nodes.
const std::initializer_list<std::pair<int, int>> WonForX = {{9, 9}, {0, 0}, {10, 9}, {0, 1}, {9, 10}, {0, 3}};
// Quiet positions that stay open for a long time, with 8 and 10 root children.
const std::initializer_list<std::pair<int, int>> OpenEight = {{9, 9}, {10, 9}, {9, 10}, {9, 8}, {9, 11}};
const std::initializer_list<std::pair<int, int>> OpenTen = {{9, 9}, {8, 8}, {10, 10}, {8, 10}, {9, 10}, {10, 8}};

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

int countLines(const std::vector<std::string>& lines, const std::string& text) {
    return static_cast<int>(std::count(lines.begin(), lines.end(), text));
}

void collect(ProofNode* node, std::set<ProofNode*>& nodes) {
    if (!nodes.insert(node).second) return;
    for (int i = 0; i < node->childCount; ++i) collect(node->children[i], nodes);
}

class ProofNumberSearch : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(createNodeTable());
        std::fill(pnEst, pnEst + EstimateCount, 1);
        std::fill(dnEst, dnEst + EstimateCount, 1);
    }

    void TearDown() override {
        if (root) deleteNode(root);
        // Every node took its reference out of the table when it was deleted.
        for (uint32_t i = 0; i < NodeTableSlots; ++i) ASSERT_EQ(nodeTable->slots[i], nullptr) << i;
    }

    int search(std::initializer_list<std::pair<int, int>> moves, int32_t timeMs, int64_t memoryLimit) {
        root = createNode(nullptr, boardAfter(moves));
        context.moveDeadline = platform::clockAdd(platform::clockMs(), 20000 + timeMs);
        const int cell = runProofNumberSearch(context, root, 20000, memoryLimit, 0, out);
        lines = linesOf(out.str());
        return cell;
    }

    SearchContext context;
    ProofNode* root = nullptr;
    std::ostringstream out;
    std::vector<std::string> lines;
};

}  // namespace

TEST_F(ProofNumberSearch, RootDecidedByTheAnalysisAnswersAtOnce) {
    const auto moves = {std::pair{7, 9}, {0, 5}, {8, 9}, {0, 6}, {9, 9}, {0, 10}};  // x's open three, x to move
    auto probe = boardAfter(moves);
    ASSERT_EQ(analyse(*probe, context.analysis), 1);
    const int expected = context.analysis.resultCells[0];
    EXPECT_EQ(search(moves, 5000, int64_t{1} << 40), expected);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(root->childCount, 0);
    EXPECT_EQ(root->pn, 0);
}

TEST_F(ProofNumberSearch, ProvesAWonPosition) {
    const int cell = search(WonForX, 20000, int64_t{1} << 40);
    ASSERT_GE(lines.size(), 1u);
    EXPECT_EQ(lines[0], "MESSAGE " + std::to_string(context.nodeCounter) + "{0,OO}");
    EXPECT_GT(context.nodeCounter, 0);
    for (size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(lines[i].back(), 's') << lines[i];
    ASSERT_GE(cell, 0);
    EXPECT_EQ(numbersByCell[cell].pn, 0);
    EXPECT_EQ(root->pn, 0);
    EXPECT_EQ(root->dn, Infinite);
    bool isChild = false;
    for (int i = 0; i < root->childCount; ++i) isChild |= root->children[i]->move == cell;
    EXPECT_TRUE(isChild);
}

TEST_F(ProofNumberSearch, GraphStaysConsistentAndSharesTranspositions) {
    search(OpenTen, 300, int64_t{1} << 40);
    std::set<ProofNode*> nodes;
    collect(root, nodes);
    int shared = 0;
    Board position;
    for (ProofNode* node : nodes) {
        if (node->parentCount > 1) ++shared;
        for (int i = 0; i < node->childCount; ++i) {
            ProofNode* child = node->children[i];
            EXPECT_NE(child->isOr(), node->isOr());
            int links = 0;
            for (int p = 0; p < child->parentCount; ++p) links += child->parent(p) == node;
            EXPECT_EQ(links, 1) << "each child names its parent once";
        }
        for (int p = 0; p < node->parentCount; ++p) EXPECT_TRUE(nodes.count(node->parent(p)));
        if (node->parentCount > 0) {
            bool currentIsParent = false;
            for (int p = 0; p < node->parentCount; ++p) currentIsParent |= node->parent(p) == node->currentParent;
            EXPECT_TRUE(currentIsParent);
        }
        nodePosition(node, position);
        EXPECT_EQ(node->key, position.positionKey());
        // The numbers are those that the children give.
        if (node != root && node->expansion() == Expanded && !node->decided()) {
            const int32_t pn = node->pn, dn = node->dn;
            setNumbers(node, 0);
            EXPECT_EQ(node->pn, pn);
            EXPECT_EQ(node->dn, dn);
        }
    }
    EXPECT_GT(shared, 0) << "transpositions below the root share one node";
    for (int i = 0; i < root->childCount; ++i) {
        EXPECT_EQ(root->children[i]->parentCount, 1);
        EXPECT_NE(nodeTable->find(root->children[i]->key), root->children[i]) << "root children stay out of the table";
    }
}

TEST_F(ProofNumberSearch, ADeadlineInsideTheMarginAllowsOneIteration) {
    search(OpenEight, -15000, int64_t{1} << 40);  // moveDeadline only 5 s ahead
    std::set<ProofNode*> nodes;
    collect(root, nodes);
    int expandedBelowRoot = 0;
    for (ProofNode* node : nodes) expandedBelowRoot += node != root && node->childCount > 0;
    EXPECT_LE(expandedBelowRoot, 1);
    EXPECT_EQ(lines[0].rfind("MESSAGE " + std::to_string(context.nodeCounter) + "{", 0), 0u) << lines[0];
    EXPECT_LE(context.nodeCounter, MaxChildren);
}

TEST_F(ProofNumberSearch, MemoryPressureCutsRootChildrenDownToOne) {
    // With the limit already passed no iteration runs: the disproven root
    // children go first, then the worst ones are cut until one is left.
    auto probe = createNode(nullptr, boardAfter(OpenTen));
    expandNode(context, probe, 0);
    int disproven = 0;
    std::vector<int> moves;
    int lastKept = -1, best = -1;
    for (int i = 0; i < probe->childCount; ++i) {
        const ProofNode* child = probe->children[i];
        moves.push_back(child->move);
        if (child->dn == 0) {
            ++disproven;
            continue;
        }
        ASSERT_EQ(child->pn, 1) << "all kept children start from the estimates";
        ASSERT_EQ(child->dn, 1);
        lastKept = child->move;  // full ties: the earliest is cut first
        best = best < 0 ? child->move : std::min<int>(best, child->move);
    }
    const int children = probe->childCount;
    deleteNode(probe);
    ASSERT_GE(children - disproven, 2);

    const int cell = search(OpenTen, 20000, 0);
    EXPECT_EQ(countLines(lines, "MESSAGE del root child"), disproven);
    EXPECT_EQ(countLines(lines, "MESSAGE Cut root child"), children - disproven - 1);
    EXPECT_EQ(lines[children - 1], "MESSAGE 0{1,1}");
    ASSERT_EQ(root->childCount, 1);
    EXPECT_EQ(root->children[0]->move, lastKept);
    EXPECT_EQ(cell, best) << "the cut children still take part in the choice";
    for (int move : moves) EXPECT_GE(workByCell[move], 0);
}

TEST_F(ProofNumberSearch, ASingleRootChildIsNeverPruned) {
    search({{9, 9}}, 20000, 0);  // the opening reply is the only listed move
    ASSERT_EQ(root->childCount, 1);
    EXPECT_EQ(lines[0], "MESSAGE 0{1,1}");
    EXPECT_EQ(countLines(lines, "MESSAGE Cut root child"), 0);
}

TEST_F(ProofNumberSearch, PrunesUnderASmallLimitAboveTheCurrentMemory) {
    // The larger room is one in which the memory figure is not read every
    // iteration; a slow (sanitised) build may not fill it within the time, so
    // only the small room must be reached and pruned.
    const struct {
        int64_t room;
        bool mustPrune;
    } cases[] = {{int64_t{6} << 20, true}, {int64_t{40} << 20, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.room);
        if (root) deleteNode(root);
        out.str("");
        const int64_t limit = platform::committedMemoryBytes() + c.room;
        const int cell = search(OpenEight, 5000, limit);
        if (c.mustPrune) {
            EXPECT_GE(countLines(lines, "MESSAGE Cut root child") + countLines(lines, "MESSAGE del root child"), 1);
        }
        EXPECT_LT(platform::committedMemoryBytes(), limit + (1 << 20)) << "stopped within an iteration of the limit";
        EXPECT_GE(cell, 0);
        EXPECT_GE(workByCell[cell], 0);
        EXPECT_GE(root->childCount, 1);
    }
}
