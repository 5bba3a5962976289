#include <gtest/gtest.h>

#include <memory>

#include "search/node_table.h"
#include "search/proof_number_search.h"
#include "search/proof_state.h"

namespace {

struct NodeOf {
    ProofNode node;
    explicit NodeOf(uint32_t low, uint32_t high) { node.key = {low, high}; }
};

}  // namespace

TEST(NodeTable, SlotShiftFollowsTheDoublingRule) {
    EXPECT_EQ(slotShiftFor(NodeTableSlots), 13u);
    EXPECT_EQ(slotShiftFor(2), 31u);
    EXPECT_EQ(slotShiftFor(4), 30u);
    auto table = std::make_unique<NodeTable>();
    EXPECT_EQ(table->slotShift, 13u);
}

TEST(NodeTable, SlotIsTheTopNineteenBitsOfTheLowWord) {
    auto table = std::make_unique<NodeTable>();
    struct Case { uint32_t low, slot; };
    const Case cases[] = {
        {0, 0}, {(1u << 13) - 1, 0}, {1u << 13, 1}, {0xFFFFFFFFu, NodeTableSlots - 1}, {0x80000000u, 1u << 18},
    };
    for (const auto& c : cases) EXPECT_EQ(table->slotOf({c.low, 0xABCDu}), c.slot) << c.low;
}

TEST(NodeTable, FindInsertRemove) {
    auto table = std::make_unique<NodeTable>();
    NodeOf a(5, 100), b(7, 200);  // both in slot 0
    EXPECT_EQ(table->find({5, 100}), nullptr);
    table->insert(&a.node);
    EXPECT_EQ(table->find({5, 100}), &a.node);
    EXPECT_EQ(table->find({5, 101}), nullptr) << "the high word confirms a match";
    EXPECT_EQ(table->find({6, 100}), nullptr);

    table->insert(&b.node);  // the newest entry wins the slot
    EXPECT_EQ(table->find({5, 100}), nullptr);
    EXPECT_EQ(table->find({7, 200}), &b.node);
    table->remove(&a.node);  // a no longer holds the slot: b stays
    EXPECT_EQ(table->find({7, 200}), &b.node);
    table->remove(&b.node);
    EXPECT_EQ(table->find({7, 200}), nullptr);
    EXPECT_EQ(table->slots[0], nullptr);
}

TEST(NodeTable, CreatedOnceAndReleased) {
    NodeTable* before = nodeTable;
    releaseNodeTable();
    ASSERT_TRUE(createNodeTable());
    NodeTable* created = nodeTable;
    ASSERT_TRUE(createNodeTable());
    EXPECT_EQ(nodeTable, created) << "a second creation keeps the table";
    for (uint32_t i = 0; i < NodeTableSlots; i += 4099) EXPECT_EQ(nodeTable->slots[i], nullptr);
    releaseNodeTable();
    EXPECT_EQ(nodeTable, nullptr);
    if (before) createNodeTable();
}

// Looking among the inserted nodes must give what the table gives, slot
// collisions (the newest wins) included.
TEST(NodeTable, FindInsertedAgreesWithFind) {
    auto table = std::make_unique<NodeTable>();
    NodeOf a(5, 100), b(7, 200), c(1u << 13, 300), d(5, 101);  // a, b, d share slot 0
    ProofNode* inserted[] = {&a.node, &c.node, &b.node, &d.node};
    const PositionKey keys[] = {{5, 100}, {7, 200}, {1u << 13, 300}, {5, 101}, {9, 1}, {(1u << 13) + 1, 300}};
    for (int n = 0; n <= 4; ++n) {
        if (n > 0) table->insert(inserted[n - 1]);
        for (const PositionKey& k : keys)
            EXPECT_EQ(table->findInserted(inserted, n, k), table->find(k)) << n << " " << k.low << " " << k.high;
    }
}

// Insertions into an empty table wait until it is read; removals in between
// must leave what they would have left had the insertions been made.
TEST(NodeTable, RemovalsBeforeTheTableIsRead) {
    NodeOf a(5, 100), b(7, 200), c(1u << 13, 300);  // a and b share slot 0
    struct Case {
        const char* removed;  // in order
        ProofNode* foundA;
        ProofNode* foundB;
        ProofNode* foundC;
    };
    const Case cases[] = {
        {"", nullptr, &b.node, &c.node},  {"a", nullptr, &b.node, &c.node}, {"b", nullptr, nullptr, &c.node},
        {"ba", nullptr, nullptr, &c.node}, {"c", nullptr, &b.node, nullptr}, {"abc", nullptr, nullptr, nullptr},
    };
    for (const Case& t : cases) {
        auto table = std::make_unique<NodeTable>();
        for (NodeOf* n : {&a, &b, &c}) n->node.flags = 0;
        table->insert(&a.node);
        table->insert(&b.node);
        table->insert(&c.node);
        for (const char* r = t.removed; *r; ++r) table->remove(*r == 'a' ? &a.node : *r == 'b' ? &b.node : &c.node);
        EXPECT_EQ(table->find({5, 100}), t.foundA) << t.removed;
        EXPECT_EQ(table->find({7, 200}), t.foundB) << t.removed;
        EXPECT_EQ(table->find({1u << 13, 300}), t.foundC) << t.removed;
        table->remove(&b.node);
        table->remove(&c.node);
        EXPECT_TRUE(table->empty()) << t.removed;
    }
}
