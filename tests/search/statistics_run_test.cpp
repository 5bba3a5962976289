#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "board/shared_state.h"
#include "platform/clock.h"
#include "protocol/command_loop.h"
#include "search/node_table.h"
#include "search/shared_state.h"
#include "search/statistics_run.h"
#include "search_test_support.h"

namespace {

// x to move with an open three: the analysis decides it, so its search prints nothing.
const std::initializer_list<std::pair<int, int>> Decided = {{7, 9}, {0, 5}, {8, 9}, {0, 6}, {9, 9}, {0, 10}};
const std::initializer_list<std::pair<int, int>> Open = {{9, 9}, {10, 9}, {9, 10}, {9, 8}, {9, 11}};

std::string imageOf(std::initializer_list<std::pair<int, int>> moves) {
    auto board = boardAfter(moves);
    std::FILE* file = std::tmpfile();
    EXPECT_TRUE(writeBoardImage(*board, file));
    const long size = std::ftell(file);
    std::string bytes(size, '\0');
    std::rewind(file);
    EXPECT_EQ(std::fread(bytes.data(), 1, size, file), static_cast<size_t>(size));
    std::fclose(file);
    return bytes;
}

void writeNodeFile(int number, const std::string& bytes) {
    std::filesystem::create_directories("tarvo/nodes");
    std::ofstream(nodeFileName(number), std::ios::binary) << bytes;
}

std::string run(int first, int last, int32_t timeoutTurn = 0) {
    std::ostringstream out;
    statisticsRun(first, last, timeoutTurn, out);
    return out.str();
}

}  // namespace

TEST(StatisticsRun, NodeFileNames) {
    struct Case { int number; const char* name; };
    const Case cases[] = {
        {1, "tarvo/nodes/node001.bin"}, {7, "tarvo/nodes/node007.bin"}, {40, "tarvo/nodes/node040.bin"},
        {123, "tarvo/nodes/node123.bin"}, {1234, "tarvo/nodes/node1234.bin"},
        {-2147483647 - 1, "tarvo/nodes/node-2147483648.bin"},
    };
    for (const auto& c : cases) EXPECT_EQ(nodeFileName(c.number), c.name);
}

TEST(StatisticsRun, NothingToDo) {
    ScopedWorkDir dir("tarvo_stats");
    EXPECT_EQ(run(1, 40), "") << "no tarvo/nodes directory";
    writeNodeFile(1, "");
    EXPECT_EQ(run(1, 40), "") << "an empty node file";
    writeNodeFile(4, imageOf(Decided));
    EXPECT_EQ(run(5, 3), "") << "first above last";
}

TEST(StatisticsRun, ProgressLinesPerImage) {
    ASSERT_TRUE(createNodeTable());
    const std::string image = imageOf(Decided);
    struct Case {
        const char* name;
        std::string bytes;
        std::string expected;
    };
    const Case cases[] = {
        {"three images", image + image + image,
         "Pocitam... 2 z 3, 33%\nPocitam... 2 z 3, 66%\nPocitam... 2 z 3, 100%\n"},
        {"a truncated last image is not searched", image + image + image.substr(0, image.size() - 1),
         "Pocitam... 2 z 3, 33%\nPocitam... 2 z 3, 66%\n"},
        {"a cut inside the threat lists", image + image.substr(0, 30),
         "Pocitam... 2 z 3, " + std::to_string(image.size() * 100 / (image.size() + 30)) + "%\n"},
    };
    for (const Case& c : cases) {
        ScopedWorkDir dir("tarvo_stats");
        writeNodeFile(4, c.bytes);
        EXPECT_EQ(run(3, 5), c.expected) << c.name;
    }
}

TEST(StatisticsRun, EachPositionGetsTheTurnTime) {
    ASSERT_TRUE(createNodeTable());
    ScopedWorkDir dir("tarvo_stats");
    writeNodeFile(1, imageOf(Open));
    writeNodeFile(2, imageOf(Decided));
    const int32_t before = platform::clockMs();
    std::istringstream lines(run(1, 2, 0));
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line, "Pocitam... 1 z 2, 100%");
    // A test process above the 80 MiB limit sees its root children cut first.
    while (std::getline(lines, line) && (line == "MESSAGE Cut root child" || line == "MESSAGE del root child")) {
    }
    EXPECT_EQ(line.rfind("MESSAGE ", 0), 0u) << line;
    EXPECT_NE(line.find('{'), std::string::npos) << line;
    // With timeout_turn 0 the deadline sits at the margin: one iteration, then the report.
    EXPECT_LE(nodeCounter, MaxChildren);
    const int32_t ahead = platform::clockDiff(moveDeadline, before);
    EXPECT_GE(ahead, 20000);
    EXPECT_LT(ahead, 25000);
    bool secondFile = false;
    while (std::getline(lines, line)) secondFile |= line == "Pocitam... 2 z 2, 100%";
    EXPECT_TRUE(secondFile);
}

TEST(StatisticsRun, StatsCommandRunsFilesOneToForty) {
    ScopedWorkDir dir("tarvo_stats");
    writeNodeFile(2, imageOf(Decided));
    writeNodeFile(41, imageOf(Decided));  // outside the command's range
    std::istringstream in("stats\n");
    std::ostringstream out;
    EXPECT_EQ(runEngine(in, out), 0);
    const std::string expected =
        "This operation can take several minutes or hours, please wait...\n"
        "Pocitam... 2 z 40, 100%\n"
        "Done\n";
    EXPECT_EQ(out.str().substr(0, expected.size()), expected);
    EXPECT_EQ(nodeTable, nullptr) << "the end of input releases the node table";
    ASSERT_TRUE(createNodeTable());
}
