#include "search/deep_search.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "search/bench.h"
#include "search/search_report.h"
#include "search/shared_state.h"
#include "search/static_value.h"
#include "search_test_support.h"

namespace {

std::vector<SetPosition> positionSet() {
    std::vector<SetPosition> positions;
    std::string error;
    EXPECT_TRUE(readPositionSet(std::string(TARVO_SOURCE_DIR) + "/bench/positions.txt", positions, error)) << error;
    return positions;
}

std::unique_ptr<Board> boardOf(const SetPosition& position) {
    auto board = std::make_unique<Board>();
    for (int cell : position.moves) board->makeMove(cell);
    return board;
}

struct DeepSearchTest : testing::Test {
    void SetUp() override {
        ctx = std::make_unique<SearchContext>();
        ctx->table.resize(size_t{1} << 22);
        ctx->startedMs = platform::clockMs();
        ctx->deadline = moveDeadline = platform::clockAdd(ctx->startedMs, 600000);
    }
    std::unique_ptr<SearchContext> ctx;
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
        const int recordedNodes = std::stoi(positions[i].expectedLine.substr(positions[i].expectedLine.rfind('|') + 1));
        if (recordedNodes > 120000) continue;
        std::unique_ptr<Board> board = boardOf(positions[i]);
        for (int depth : {3, 5}) {
            const SearchReport today = searchPosition(*board, depth);
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

}  // namespace
