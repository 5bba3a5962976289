#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "board/board_image.h"
#include "platform/clock.h"
#include "platform/data_directory.h"
#include "protocol/command_loop.h"
#include "search/node_table.h"
#include "search/proof_state.h"
#include "protocol/statistics_run.h"
#include "search_test_support.h"

namespace {

// x to move with an open three: the analysis decides it, so its search prints nothing.
const std::initializer_list<std::pair<int, int>> Decided = {{7, 9}, {0, 5}, {8, 9}, {0, 6}, {9, 9}, {0, 10}};
const std::initializer_list<std::pair<int, int>> Open = {{9, 9}, {10, 9}, {9, 10}, {9, 8}, {9, 11}};
// x to move, three scattered x stones: a win that takes the search many iterations.
const std::initializer_list<std::pair<int, int>> WonForX = {{9, 9}, {0, 0}, {10, 9}, {0, 1}, {9, 10}, {0, 3}};

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
    std::ofstream(platform::nodeFilePath(number), std::ios::binary) << bytes;
}

// The state the runs search with, as the command loop's session holds it.
SearchContext context;

std::string run(int first, int last, int32_t timeoutTurn = 0) {
    std::ostringstream out;
    statisticsRun(context, first, last, timeoutTurn, out);
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
    for (const auto& c : cases) EXPECT_EQ(platform::nodeFilePath(c.number), c.name);
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
    EXPECT_LE(context.nodeCounter, MaxChildren);
    const int32_t ahead = platform::clockDiff(context.moveDeadline, before);
    EXPECT_GE(ahead, 20000);
    EXPECT_LT(ahead, 25000);
    bool secondFile = false;
    while (std::getline(lines, line)) secondFile |= line == "Pocitam... 2 z 2, 100%";
    EXPECT_TRUE(secondFile);
}

// The images of node files are read as bytes and laid out as a Board in one
// step; what readBoardImage makes of the same bytes is the reference.
TEST(StatisticsRun, ImageBytesGiveTheBoardThatReadBoardImageGives) {
    const std::string open = imageOf(Open);
    auto at32 = [](std::string bytes, size_t offset, int32_t value) {
        for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(static_cast<uint32_t>(value) >> (8 * i));
        return bytes;
    };
    auto read32 = [&open](size_t offset) {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(static_cast<unsigned char>(open[offset + i])) << (8 * i);
        return static_cast<int32_t>(value);
    };
    const int32_t xCount = read32(17);
    ASSERT_GE(xCount, 2);
    const size_t firstCell = 21, firstClass = 21 + 4 * static_cast<size_t>(xCount);
    const size_t cellBytes = open.size() - CellCount;
    std::string oddByte = open, sideTwo = open, strayListed = open;
    oddByte[cellBytes + 3] = 0x05;
    sideTwo[8] = 2;
    strayListed[cellBytes] = static_cast<char>(ListedX);  // the corner, far from the stones
    // trusted: held to the self-check, so that probes take the ranked path;
    // a Board its stones do not explain must not be.
    struct Case {
        const char* name;
        std::string bytes;
        bool trusted;
    };
    const Case cases[] = {
        {"a played position", open, true},
        {"one the analysis decides", imageOf(Decided), true},
        {"no last move", at32(open, 4, -1), true},
        {"a cell byte its stones do not explain", oddByte, false},
        {"a listed bit without an entry", strayListed, false},
        {"a total its stones do not give", at32(open, 9, read32(9) + 1), false},
        {"a class its stones do not give", at32(open, firstClass + 4 * (xCount - 1), WeakestListed), false},
        {"a move count its stones do not give", at32(open, 0, read32(0) + 1), false},
        {"a list with a cell twice", at32(open, firstCell + 4, read32(firstCell)), false},
        {"a list out of order", at32(at32(open, firstClass, 13), firstClass + 4, 0), false},
        {"refused: side 2", sideTwo, false},
        {"refused: a class past the listed ones", at32(open, firstClass, 14), false},
        {"refused: a cell off the board", at32(open, firstCell, CellCount), false},
        {"refused: a last move off the board", at32(open, 4, CellCount), false},
    };
    for (const Case& c : cases) {
        std::FILE* file = std::tmpfile();
        std::fwrite(c.bytes.data(), 1, c.bytes.size(), file);
        std::rewind(file);
        Board read, laid;
        const bool readOk = readBoardImage(read, file);
        std::fclose(file);
        const bool laidOk =
            boardFromImageBytes(reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size(), laid);
        EXPECT_EQ(laidOk, readOk) << c.name;
        if (!readOk || !laidOk) continue;
        std::FILE* a = std::tmpfile();
        std::FILE* b = std::tmpfile();
        writeBoardImage(read, a);
        writeBoardImage(laid, b);
        EXPECT_EQ(std::ftell(a), std::ftell(b)) << c.name;
        std::rewind(a);
        std::rewind(b);
        for (int ca = std::fgetc(a), cb = std::fgetc(b); ca != EOF || cb != EOF; ca = std::fgetc(a), cb = std::fgetc(b))
            ASSERT_EQ(ca, cb) << c.name;
        std::fclose(a);
        std::fclose(b);
        EXPECT_EQ(laid.positionKey(), read.positionKey()) << c.name;
        EXPECT_EQ(laid.savedScore(), read.savedScore()) << c.name;
        EXPECT_EQ(laid.canTryMoves(), read.canTryMoves()) << c.name;
        EXPECT_EQ(read.isHeldToSelfCheck(), c.trusted) << c.name;
        EXPECT_EQ(laid.isHeldToSelfCheck(), c.trusted) << c.name;
    }
}

// A repeated image is answered from its first search: the same lines.
TEST(StatisticsRun, ARepeatedImageGetsTheLinesOfItsFirstSearch) {
    ASSERT_TRUE(createNodeTable());
    ScopedWorkDir dir("tarvo_stats");
    writeNodeFile(1, imageOf(Open) + imageOf(WonForX) + imageOf(Open) + imageOf(WonForX));
    std::vector<std::string> blocks;  // per image, without its progress and rate lines
    std::istringstream lines(run(1, 1));
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Pocitam", 0) == 0)
            blocks.emplace_back();
        else if (line.back() != 's')
            blocks.back() += line + "\n";
    }
    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_NE(blocks[0], "");
    EXPECT_EQ(blocks[2], blocks[0]);
    EXPECT_EQ(blocks[3], blocks[1]);
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
