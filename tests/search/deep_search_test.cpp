#include "search/deep_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "search/bench.h"
#include "search/turn_search.h"
#include "search/static_value.h"
#include "search_test_support.h"

namespace {

std::unique_ptr<Board> boardOf(const SetPosition& position) {
    auto board = std::make_unique<Board>();
    for (int cell : position.moves) board->makeMove(cell);
    return board;
}

// The nodes of the position's recorded depth-7 search: the size of its tree.
int recordedNodes(const SetPosition& position) {
    return std::stoi(position.expectedLine.substr(position.expectedLine.rfind('|') + 1));
}

struct DeepSearchTest : testing::Test {
    void SetUp() override {
        ctx = std::make_unique<DeepSearchContext>();
        ctx->table.resize(size_t{1} << 22);
        startClock();
    }
    // Each search's budget runs from its own start: the iterations are
    // planned on the time since startedMs, so a clock started long before
    // (a slow sanitised build) would make a search stop at its first depth.
    void startClock() {
        ctx->startedMs = platform::clockMs();
        ctx->turn.moveDeadline = platform::clockAdd(ctx->startedMs, 600000);
    }
    std::unique_ptr<DeepSearchContext> ctx;
};

// Without the table the alpha-beta search walks today's tree with both
// bounds: the same value at every depth. With it, a position reached by
// another order of the same moves may list its moves in another order and
// carry another saved total (its last move differs), so its value may
// differ; on these positions it does not.
TEST_F(DeepSearchTest, AtAFixedDepthTheValueIsTodaysWithAndWithoutTheTable) {
    const std::vector<SetPosition> positions = positionSet();
    int compared = 0;
    for (size_t i = 0; i < positions.size() && compared < 12; ++i) {
        if (recordedNodes(positions[i]) > 120000) continue;
        std::unique_ptr<Board> board = boardOf(positions[i]);
        for (int depth : {3, 5}) {
            const SearchReport today = searchPosition(ctx->turn, *board, depth);
            int bestWithout = -1, bestWith = -1;
            ctx->table.clear();
            const int32_t without = searchFixedDepth(*board, *ctx, depth, false, bestWithout);
            const int32_t with = searchFixedDepth(*board, *ctx, depth, true, bestWith);
            EXPECT_EQ(without, today.value) << "position " << i + 1 << " depth " << depth;
            EXPECT_EQ(with, today.value) << "position " << i + 1 << " depth " << depth;
        }
        ++compared;
    }
    EXPECT_GE(compared, 10);
}

// Positions whose win the tournament depth does not see and a deeper
// iteration proves (positions 3, 8 and 10 of the set, found at depths 8, 10
// and 8): from the iteration that proves it on, every report keeps the win,
// the answer is that win, and the search without the table proves the same
// at that depth. A second search, the table kept, finds it again (sooner).
TEST_F(DeepSearchTest, AProvedWinIsNeverLostBetweenIterations) {
    const std::vector<SetPosition> positions = positionSet();
    for (int index : {3, 8, 10}) {
        std::unique_ptr<Board> board = boardOf(positions[index - 1]);
        for (int round = 0; round < 2; ++round) {
            ctx->limits.maxDepth = 12;
            std::vector<SearchReport> iterations;
            ctx->listener.iterationDone = [&](const SearchReport& r) { iterations.push_back(r); };
            startClock();
            const SearchReport answer = searchDeeper(*board, *ctx);
            ASSERT_FALSE(iterations.empty());
            EXPECT_LT(iterations.front().value, WinValue) << "position " << index;
            size_t proved = 0;
            while (proved < iterations.size() && iterations[proved].value < WinValue) ++proved;
            ASSERT_LT(proved, iterations.size()) << "position " << index << " round " << round;
            for (size_t i = proved; i < iterations.size(); ++i) EXPECT_EQ(iterations[i].value, WinValue);
            EXPECT_EQ(answer.value, WinValue);
            EXPECT_EQ(answer.best, iterations[proved].best);
            ASSERT_FALSE(answer.line.empty());
            EXPECT_EQ(answer.line.front(), answer.best);
            if (round == 0) {
                // The table of the second round proves it sooner.
                int best = -1;
                startClock();
                EXPECT_EQ(searchFixedDepth(*board, *ctx, iterations[proved].depth, false, best), WinValue);
            }
        }
        ctx->table.clear();
    }
}

// The best moves of a position (yxnbest; a turn weighing stored lost lines):
// every root move comes back once, the asked-for best ones first with the
// value their own search one ply deeper gives (so with the same value
// whatever else was searched around them) and their lines, the rest only
// bounded below them.
TEST_F(DeepSearchTest, TheBestMovesComeWithExactValuesBestFirst) {
    const std::vector<SetPosition> positions = positionSet();
    constexpr int32_t Depth = 9;
    int compared = 0;
    for (size_t i = 0; i < positions.size() && compared < 2; ++i) {
        // Small trees only: the sanitised build is a hundred times slower.
        if (recordedNodes(positions[i]) > 100000) continue;
        std::unique_ptr<Board> board = boardOf(positions[i]);
        ctx->table.clear();
        ctx->limits.maxDepth = Depth;
        startClock();
        const SearchReport single = searchDeeper(*board, *ctx);
        if (single.depth != Depth || single.value >= WinValue || single.value <= -WinValue) continue;
        ++compared;
        for (int count : {1, 3}) {
            ctx->table.clear();
            ctx->limits.maxDepth = Depth;
            startClock();
            const std::vector<SearchReport> best = searchDeeperBest(*board, *ctx, count);
            const std::vector<int> listed = rootMoves(ctx->turn, *board);
            ASSERT_EQ(best.size(), listed.size()) << "position " << i + 1;
            for (size_t k = 0; k < best.size(); ++k) {
                EXPECT_EQ(std::count(listed.begin(), listed.end(), best[k].best), 1);
                ASSERT_FALSE(best[k].line.empty());
                EXPECT_EQ(best[k].line.front(), best[k].best);
                EXPECT_EQ(best[k].depth, Depth);
                const size_t above = k < size_t(count) ? k - 1 : size_t(count) - 1;
                if (k > 0) {
                    EXPECT_LE(best[k].value, best[above].value);
                }
            }
            for (int k = 0; k < count; ++k) {
                std::unique_ptr<Board> child = boardOf(positions[i]);
                child->makeMove(best[size_t(k)].best);
                ctx->table.clear();
                startClock();
                int reply = -1;
                EXPECT_EQ(best[size_t(k)].value, -searchFixedDepth(*child, *ctx, Depth - 1, true, reply))
                    << "position " << i + 1 << " move " << k << " of " << count;
            }
        }
    }
    EXPECT_EQ(compared, 2);
}

// The table: a stored position is found again with its value, bound, depth
// and move; another key in the same slot does not take it; clearing forgets
// all; a table without memory finds nothing.
TEST(TranspositionTableTest, StoresFindsAndForgets) {
    TranspositionTable table;
    table.store(7, 100, TranspositionTable::Exact, 5, 42);
    EXPECT_EQ(table.probe(7), nullptr);  // no size, no entries
    ASSERT_TRUE(table.resize(1 << 12));
    EXPECT_EQ(table.bytes(), size_t{1} << 12);
    const uint64_t a = 0x123456789ABCDEF0ull, sameSlot = a ^ (uint64_t{1} << 40), other = a + 2;
    table.store(a, -300, TranspositionTable::Lower, 9, 17);
    table.store(sameSlot, 55, TranspositionTable::Upper, 3, 18);
    table.store(other, 20000, TranspositionTable::Exact, 127, 19);
    struct Expected {
        uint64_t key;
        int32_t value;
        int bound, depth, move;
    };
    for (const Expected& e : {Expected{a, -300, TranspositionTable::Lower, 9, 17},
                              Expected{sameSlot, 55, TranspositionTable::Upper, 3, 18},
                              Expected{other, 20000, TranspositionTable::Exact, 127, 19}}) {
        const TranspositionTable::Entry* found = table.probe(e.key);
        ASSERT_NE(found, nullptr) << e.key;
        EXPECT_EQ(found->value, e.value);
        EXPECT_EQ(found->bound & 3, e.bound);
        EXPECT_EQ(found->depth, e.depth);
        EXPECT_EQ(found->move, e.move);
    }
    EXPECT_EQ(table.probe(a ^ 1), nullptr);
    // A later visit without a move keeps the move found before.
    table.store(a, -250, TranspositionTable::Exact, 10, -1);
    ASSERT_NE(table.probe(a), nullptr);
    EXPECT_EQ(table.probe(a)->move, 17);
    table.clear();
    for (uint64_t key : {a, sameSlot, other}) EXPECT_EQ(table.probe(key), nullptr);
    EXPECT_EQ(table.bytes(), size_t{1} << 12);
}

}  // namespace
