#include "search/bench.h"

#include <gtest/gtest.h>

#include <sstream>

TEST(BenchTest, NodeCountIsRepeatableAndPrintedLast) {
    std::ostringstream first, second;
    const int64_t nodes = runBench(first);
    EXPECT_EQ(runBench(second), nodes);
    EXPECT_GT(nodes, 0);
    const std::string text = first.str();
    const std::string last = "bench: " + std::to_string(nodes) + " nodes\n";
    ASSERT_GE(text.size(), last.size());
    EXPECT_EQ(text.substr(text.size() - last.size()), last);
    EXPECT_NE(text.find("position 10: nodes "), std::string::npos);
    EXPECT_NE(text.find("total: nodes " + std::to_string(nodes)), std::string::npos);
}
