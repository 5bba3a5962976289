#include "search/bench.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

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
    // The signature the repository expects, in its one place.
    std::ifstream expected(TARVO_SOURCE_DIR "/bench/signature.txt");
    std::string signature;
    ASSERT_TRUE(std::getline(expected, signature));
    EXPECT_EQ(last, signature + "\n");
}
