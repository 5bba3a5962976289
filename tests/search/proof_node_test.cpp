#include <gtest/gtest.h>

#include <climits>
#include <sstream>
#include <vector>

#include "protocol/proof_lines.h"
#include "search/proof_number_search.h"
#include "search/proof_state.h"
#include "search_test_support.h"

namespace {

constexpr int32_t OO = Infinite;

struct NodeGuard {
    ProofNode* node;
    ~NodeGuard() { deleteNode(node); }
};

}  // namespace

TEST(ProofNumbers, ArithmeticTreatsMinusOneAsInfinity) {
    struct Case { int32_t a, b, min, sum; };
    const Case cases[] = {
        {3, 5, 3, 8},
        {OO, 5, 5, OO},
        {5, OO, 5, OO},
        {OO, OO, OO, OO},
        {0, 7, 0, 7},
        {INT32_MAX, 5, 5, INT32_MAX},  // finite sums saturate, never turning into infinity
        {INT32_MAX - 1, 1, 1, INT32_MAX},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(minNumber(c.a, c.b), c.min) << c.a << " " << c.b;
        EXPECT_EQ(addNumbers(c.a, c.b), c.sum) << c.a << " " << c.b;
    }
    EXPECT_EQ(reportLine(1234, 0, OO), "1234{0,OO}");
    EXPECT_EQ(reportLine(7, OO, 0), "7{OO,0}");
    EXPECT_EQ(reportLine(0, 12, 345), "0{12,345}");
}

TEST(ProofNode, CreateNodeStampsAndLinks) {
    idCounter = 10;
    auto board = boardAfter({{9, 9}, {10, 10}});
    const PositionKey k = board->positionKey();
    ProofNode* root = createNode(nullptr, std::move(board));
    NodeGuard guard{root};
    EXPECT_EQ(root->stamp, 11u);
    EXPECT_EQ(idCounter, 12u);
    EXPECT_EQ(root->depth, 0);
    EXPECT_EQ(root->move, cellAt(10, 10));
    EXPECT_EQ(root->key, k);
    EXPECT_TRUE(root->isOr());
    EXPECT_EQ(root->expansion(), NotExpanded);
    EXPECT_EQ(root->pn, 1);
    EXPECT_EQ(root->dn, 1);
    EXPECT_EQ(root->parentCount, 0);

    ProofNode* child = createNode(root, std::make_unique<Board>());
    root->children = new ProofNode*[1]{child};
    root->childCount = 1;
    EXPECT_EQ(child->depth, 1);
    EXPECT_EQ(child->stamp, 13u);
    EXPECT_EQ(child->parent(0), root);
    EXPECT_EQ(child->currentParent, root);
}

TEST(ProofNode, SetNumbersOverChildren) {
    struct Case {
        const char* name;
        bool orNode;
        std::vector<Numbers> children;
        Numbers expected;
    };
    const Case cases[] = {
        {"OR: least pn, sum of dn", true, {{3, 4}, {OO, 0}, {2, 6}}, {2, 10}},
        {"AND: a disproven child disproves", false, {{3, 4}, {OO, 0}, {2, 6}}, {OO, 0}},
        {"AND: sum of pn, least dn", false, {{3, 4}, {2, 6}}, {5, 4}},
        {"OR: a proven child proves", true, {{5, 5}, {0, OO}}, {0, OO}},
        {"AND: proven children are ignored", false, {{0, OO}, {3, 2}}, {3, 2}},
        {"AND: all children proven", false, {{0, OO}, {0, OO}}, {0, OO}},
        {"OR: all children disproven", true, {{OO, 0}, {OO, 0}}, {OO, 0}},
        {"OR: an infinite dn makes the sum infinite", true, {{4, OO}, {2, 3}}, {2, OO}},
        {"OR: finite sums saturate", true, {{4, INT32_MAX}, {2, 3}}, {2, INT32_MAX}},
    };
    for (const Case& c : cases) {
        ProofNode* node = handBuiltNode(c.orNode, {});
        NodeGuard guard{node};
        delete[] node->children;
        node->children = new ProofNode*[c.children.size()];
        for (const Numbers& n : c.children) {
            ProofNode* child = createNode(node, std::make_unique<Board>());
            child->pn = n.pn;
            child->dn = n.dn;
            node->children[node->childCount++] = child;
        }
        setNumbers(node, 0);
        EXPECT_EQ(node->pn, c.expected.pn) << c.name;
        EXPECT_EQ(node->dn, c.expected.dn) << c.name;
    }
}

TEST(ProofNode, SetNumbersLeavesOutDeadEndsOfTheLevel) {
    // A dead-end child tagged at or below the level does not count; one tagged
    // above it does.
    for (const int deadTag : {0, 3}) {
        ProofNode* node = handBuiltNode(true, {{9, 1}, {3, 4}});
        NodeGuard guard{node};
        node->children[1]->setExpansion(DeadEnd);
        node->children[1]->setTag(deadTag);
        setNumbers(node, 2);
        if (deadTag <= 2) {
            EXPECT_EQ(node->pn, 9);
            EXPECT_EQ(node->dn, 1);
        } else {
            EXPECT_EQ(node->pn, 3);
            EXPECT_EQ(node->dn, 5);
        }
    }
    // Nothing left to count: the side to move has no move, as at a dead end
    // itself. The attacker without a move is disproven, the defender proven.
    for (const bool orNode : {true, false}) {
        ProofNode* node = handBuiltNode(orNode, {{2, 2}});
        NodeGuard guard{node};
        node->children[0]->setExpansion(DeadEnd);
        setNumbers(node, 0);
        EXPECT_EQ(node->pn, orNode ? OO : 0);
        EXPECT_EQ(node->dn, orNode ? 0 : OO);

        ProofNode* deadEnd = handBuiltNode(orNode, {});
        NodeGuard deadGuard{deadEnd};
        deadEnd->setExpansion(DeadEnd);
        setNumbers(deadEnd, 0);
        EXPECT_EQ(deadEnd->pn, orNode ? OO : 0);
        EXPECT_EQ(deadEnd->dn, orNode ? 0 : OO);
    }
}

TEST(ProofNode, SetNumbersKeepsDecidedAndResetsUnexpanded) {
    ProofNode* node = handBuiltNode(true, {{3, 4}});
    NodeGuard guard{node};
    node->pn = 0;
    node->dn = OO;
    setNumbers(node, 0);
    EXPECT_EQ(node->pn, 0);
    ProofNode* leaf = node->children[0];
    setNumbers(leaf, 0);  // not expanded
    EXPECT_EQ(leaf->pn, 1);
    EXPECT_EQ(leaf->dn, 1);
}

TEST(ProofNode, ParentsKeepOrderAndCurrentParent) {
    ProofNode* a = handBuiltNode(true, {{1, 1}});
    ProofNode* b = handBuiltNode(true, {});
    ProofNode* c = handBuiltNode(true, {});
    ProofNode* shared = a->children[0];
    addParent(shared, b);
    EXPECT_EQ(shared->parentCount, 2);
    EXPECT_EQ(shared->currentParent, b);
    addParent(shared, c);
    EXPECT_EQ(shared->parentCount, 3);
    EXPECT_EQ(shared->currentParent, c);
    EXPECT_EQ(shared->parent(0), a);
    EXPECT_EQ(shared->parent(1), b);
    EXPECT_EQ(shared->parent(2), c);

    removeParent(shared, a);  // not the current parent: it stays
    EXPECT_EQ(shared->parentCount, 2);
    EXPECT_EQ(shared->parent(0), b);
    EXPECT_EQ(shared->parent(1), c);
    EXPECT_EQ(shared->currentParent, c);
    addParent(shared, a);
    removeParent(shared, a);  // the current parent goes: the first remaining one takes over
    EXPECT_EQ(shared->currentParent, b);
    removeParent(shared, c);  // one left: a single reference again
    EXPECT_EQ(shared->parentCount, 1);
    EXPECT_EQ(shared->parentArray, nullptr);
    EXPECT_EQ(shared->parent(0), b);
    EXPECT_EQ(shared->currentParent, b);

    // a's child array still names the node: let b own it alone from here on.
    a->childCount = 0;
    b->children = new ProofNode*[1]{shared};
    b->childCount = 1;
    deleteNode(a);
    deleteNode(c);
    deleteNode(b);  // the last parent frees the node (the sanitizer run checks)
}

TEST(ProofNode, SharedChildIsDeletedByItsLastParent) {
    ProofNode* a = handBuiltNode(true, {{1, 1}});
    ProofNode* b = handBuiltNode(true, {});
    ProofNode* shared = a->children[0];
    addParent(shared, b);
    b->children = new ProofNode*[1]{shared};
    b->childCount = 1;
    deleteNode(a);
    EXPECT_EQ(shared->parentCount, 1);
    EXPECT_EQ(shared->currentParent, b);
    deleteNode(b);
}

TEST(ProofNode, SelectMostProvingFollowsTheDeterminingChildren) {
    ProofNode* root = handBuiltNode(true, {{OO, 0}, {5, 2}, {2, 7}, {2, 9}});
    NodeGuard guard{root};
    setNumbers(root, 0);
    ASSERT_EQ(root->pn, 2);
    ProofNode* andChild = root->children[2];
    andChild->setExpansion(Expanded);
    andChild->children = new ProofNode*[2];
    for (const Numbers n : {Numbers{1, 8}, Numbers{1, 7}}) {
        ProofNode* c = createNode(andChild, std::make_unique<Board>());
        c->pn = n.pn;
        c->dn = n.dn;
        andChild->children[andChild->childCount++] = c;
    }
    idCounter = 40;
    EXPECT_EQ(selectMostProving(root, 0), andChild->children[1]);
    EXPECT_EQ(root->stamp, 40u);
    EXPECT_EQ(andChild->stamp, 40u);
    EXPECT_EQ(andChild->children[1]->stamp, 40u);

    // A node expanded above the level is where the selection stops.
    andChild->setTag(3);
    EXPECT_EQ(selectMostProving(root, 2), andChild);
    // Dead-end children of the level are skipped.
    andChild->setTag(0);
    andChild->children[1]->setExpansion(DeadEnd);
    andChild->children[0]->dn = 7;
    EXPECT_EQ(selectMostProving(root, 0), andChild->children[0]);
}

TEST(ProofNode, UpdateAncestorsReachesEveryParentOfASharedNode) {
    // root (OR) -> a, b (AND), both with the one OR child c; c becomes proven.
    ProofNode* root = handBuiltNode(true, {{1, 1}, {1, 1}});
    ProofNode* a = root->children[0];
    ProofNode* b = root->children[1];
    NodeGuard guard{root};
    for (ProofNode* p : {a, b}) {
        p->setExpansion(Expanded);
        p->children = new ProofNode*[1];
    }
    ProofNode* c = createNode(a, std::make_unique<Board>());
    a->children[a->childCount++] = c;
    addParent(c, b);
    b->children[b->childCount++] = c;
    c->currentParent = a;
    c->pn = 0;
    c->dn = OO;
    idCounter = 100;
    for (ProofNode* n : {root, a, b, c}) n->stamp = 90;

    EXPECT_EQ(updateAncestors(c, 0), root);
    for (ProofNode* n : {a, b, root}) {
        EXPECT_EQ(n->pn, 0);
        EXPECT_EQ(n->dn, OO);
    }
    EXPECT_EQ(c->work, 10u);
    EXPECT_EQ(b->work, 10u);
    EXPECT_EQ(root->work, 20u) << "root updated through a, then again through b";
}

TEST(ProofNode, UpdateAncestorsStopsAtTheFirstUnchangedNode) {
    ProofNode* root = handBuiltNode(true, {{2, 3}, {4, 1}});
    NodeGuard guard{root};
    setNumbers(root, 0);
    ASSERT_EQ(root->dn, 4);
    ProofNode* child = root->children[1];
    ProofNode* grandchild = createNode(child, std::make_unique<Board>());
    child->setExpansion(Expanded);
    child->children = new ProofNode*[1]{grandchild};
    child->childCount = 1;
    grandchild->pn = 5;
    grandchild->dn = 2;
    // The child becomes (5, 2); the root keeps its least pn 2, its dn becomes 5.
    EXPECT_EQ(updateAncestors(child, 0), root);
    EXPECT_EQ(root->pn, 2);
    EXPECT_EQ(root->dn, 5);

    // The grandchild goes from (1, 1) to (5, 2): the child stays (5, 2) and
    // the update stops there.
    grandchild->pn = grandchild->dn = 1;
    grandchild->setExpansion(Expanded);
    ProofNode* leaf = createNode(grandchild, std::make_unique<Board>());
    grandchild->children = new ProofNode*[1]{leaf};
    grandchild->childCount = 1;
    leaf->flags &= ~OrFlag;
    leaf->pn = 5;
    leaf->dn = 2;
    EXPECT_EQ(updateAncestors(grandchild, 0), child);
    EXPECT_EQ(grandchild->pn, 5);
}

TEST(ProofNode, CutsTheWorstRootChild) {
    ProofNode* root = handBuiltNode(true, {{7, 3}, {OO, 0}, {7, 2}});
    NodeGuard guard{root};
    EXPECT_EQ(worstRootChild(root), 1);
    root->children[1]->pn = 7;
    root->children[1]->dn = 3;
    EXPECT_EQ(worstRootChild(root), 2);
    root->children[2]->dn = 3;
    EXPECT_EQ(worstRootChild(root), 0) << "full ties: the earliest";
}

TEST(ProofNode, ChoosesTheRootMove) {
    struct Entry { int cell; int32_t pn, dn, work; };
    struct Case {
        const char* name;
        std::vector<Entry> entries;
        int expected;
    };
    const Case cases[] = {
        {"equal pn: larger dn", {{10, 2, 5, 0}, {20, 2, 9, 0}}, 20},
        {"smaller pn", {{10, 3, 90, 0}, {20, 2, 1, 0}}, 20},
        {"finite pn beats infinite", {{10, OO, 0, 50}, {20, 40, 1, 0}}, 20},
        {"infinite dn is the largest", {{10, 0, OO, 0}, {20, 0, 5, 0}}, 10},
        {"all disproven: most work", {{10, OO, 0, 5}, {20, OO, 0, 30}, {30, OO, 0, 7}}, 20},
        {"full ties: the lowest cell", {{30, 2, 2, 4}, {10, 2, 2, 4}}, 10},
        {"nothing recorded", {}, -1},
    };
    for (const Case& c : cases) {
        std::fill(workByCell, workByCell + CellCount, -1);
        for (const Entry& e : c.entries) {
            workByCell[e.cell] = e.work;
            numbersByCell[e.cell] = {e.pn, e.dn};
        }
        EXPECT_EQ(chooseRootMove(), c.expected) << c.name;
    }
}

TEST(ProofNode, RemainingRootChildrenCountNoWorkInTheChoice) {
    ProofNode* root = handBuiltNode(true, {{0, OO}, {0, OO}});
    NodeGuard guard{root};
    root->children[0]->move = 40;
    root->children[0]->work = 50;
    root->children[1]->move = 30;
    root->children[1]->work = 5;
    root->pn = 0;
    root->dn = OO;
    std::ostringstream out;
    SearchContext context;
    EXPECT_EQ(runProofNumberSearch(context, root, 0, INT64_MAX, 0, out), 30);
    EXPECT_EQ(workByCell[40], 0);
}

TEST(ProofNode, ExpandingANodeWithChildrenKeepsThem) {
    ProofNode* node = handBuiltNode(true, {{3, 3}, {4, 4}});
    NodeGuard guard{node};
    node->setTag(5);
    std::ostringstream out;
    SearchContext context;
    EXPECT_TRUE(expandNode(context, node, 2, eventLines(out)));
    EXPECT_EQ(out.str(), "MESSAGE ERROR\n");
    EXPECT_EQ(node->childCount, 2);
    EXPECT_EQ(node->tag(), 2);
    EXPECT_EQ(node->expansion(), Expanded);
}
