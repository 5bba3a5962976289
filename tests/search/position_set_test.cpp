#include "search/bench.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "search/static_value.h"
#include "search/negamax.h"
#include "search_test_support.h"

namespace {

// The answers of the set's positions at depth 4, as the search gave them
// before its Boards and lists were rebuilt for speed (the file holds the
// depth-7 answers).
struct Answer {
    int position;  // from 1, as the bench numbers them
    const char* line;
    const char* move;
};
const Answer depthFour[] = {
        {1, "36|-393|840", "7,7"},
        {2, "32|359|1817", "8,12"},
        {3, "353|315|1445", "12,5"},
        {4, "20000|55|184", "14,6"},
        {5, "-122|55|878", "12,11"},
        {6, "-375|-141|3320", "3,8"},
        {7, "533|938|1016", "6,10"},
        {8, "833|618|1735", "12,11"},
        {9, "1430|558|1428", "10,7"},
        {10, "274|5|1529", "9,14"},
        {11, "-270|-605|1362", "7,13"},
        {12, "165|38|1963", "2,14"},
        {13, "20000|-347|1650", "5,6"},
        {14, "165|-434|3992", "9,12"},
        {15, "63|128|4439", "10,13"},
        {16, "20000|670|807", "8,5"},
        {17, "723|-263|623", "16,10"},
        {18, "679|824|1457", "14,6"},
        {19, "-195|-1164|775", "12,16"},
        {20, "-98|212|1248", "5,13"},
        {21, "-393|-615|1349", "9,10"},
        {22, "140|-145|2655", "7,3"},
        {23, "-67|-292|1459", "10,6"},
        {24, "-475|-518|1573", "7,11"},
        {25, "20000|5|329", "13,8"},
        {26, "20000|-32|2251", "9,15"},
        {27, "657|-330|4339", "15,11"},
        {28, "229|342|852", "14,10"},
        {29, "156|215|638", "12,14"},
        {30, "-22|-342|2674", "11,15"},
        {31, "505|390|1251", "11,6"},
        {32, "295|280|2993", "12,7"},
        {33, "1248|447|2084", "13,12"},
        {34, "-20000|353|74", "9,6"},
        {35, "380|415|2542", "8,6"},
        {36, "20000|259|778", "8,6"},
        {37, "560|581|1357", "14,12"},
        {38, "20000|346|226", "14,12"},
        {39, "-52|298|1298", "10,5"},
        {40, "442|5|1521", "7,6"},
        {41, "-1572|180|1892", "4,14"},
        {42, "163|235|1944", "5,4"},
        {43, "-135|-420|1516", "10,11"},
};

// The search's line starts with its move, plays only empty cells and ends
// where the value came from: the static value there, seen from the root.
void expectLineBehindValue(const SearchContext& context, const SetPosition& position, const SetAnswer& answer) {
    const std::vector<int> line = principalVariation(context);
    ASSERT_FALSE(line.empty()) << answer.line;
    EXPECT_EQ(std::to_string(cellX(line[0])) + "," + std::to_string(cellY(line[0])), answer.move);
    Board board;
    for (int cell : position.moves) board.makeMove(cell);
    for (int cell : line) {
        ASSERT_TRUE(cell >= 0 && cell < CellCount && board.isEmpty(cell)) << answer.line;
        board.makeMove(cell);
    }
    const int32_t leaf = scorePosition(board);
    const int32_t value = std::stoi(answer.line.substr(0, answer.line.find('|')));
    EXPECT_EQ(line.size() % 2 ? -leaf : leaf, value) << answer.line << ", line of " << line.size();
}

TEST(PositionSet, EveryPositionAtDepthFourGivesItsAnswer) {
    const std::vector<SetPosition> positions = positionSet();
    ASSERT_EQ(positions.size(), std::size(depthFour));
    SearchContext context;
    for (const Answer& expected : depthFour) {
        const SetPosition& position = positions[expected.position - 1];
        const SetAnswer answer = searchSetPosition(context, position, 4);
        EXPECT_EQ(answer.line, expected.line) << "position " << expected.position;
        EXPECT_EQ(answer.move, expected.move) << "position " << expected.position;
        expectLineBehindValue(context, position, answer);
    }
}

TEST(PositionSet, SmallSearchesAtDepthSevenGiveTheRecordedAnswer) {
    const std::vector<SetPosition> positions = positionSet();
    ASSERT_GE(positions.size(), 30u);
    SearchContext context;
    int searched = 0;
    for (size_t i = 0; i < positions.size(); ++i) {
        const SetPosition& position = positions[i];
        ASSERT_FALSE(position.expectedLine.empty()) << "position " << i + 1 << " has no recorded answer";
        const int recordedNodes = std::stoi(position.expectedLine.substr(position.expectedLine.rfind('|') + 1));
        if (recordedNodes > 20000) continue;  // the whole set runs in "pbrain-tarvo bench FILE"
        const SetAnswer answer = searchSetPosition(context, position, 7);
        EXPECT_EQ(answer.line, position.expectedLine) << "position " << i + 1;
        EXPECT_EQ(answer.move, position.expectedMove) << "position " << i + 1;
        expectLineBehindValue(context, position, answer);
        ++searched;
    }
    EXPECT_GE(searched, 5);
}

TEST(PositionSet, MalformedLinesAreRefusedWithTheirLineNumber) {
    ScopedWorkDir dir("tarvo_position_set");
    const std::pair<const char*, const char*> cases[] = {
        {"9,9 20,3", "'20,3' is not a point"},
        {"9,9 10,10 9,9", "point 9,9 is played twice"},
        {"9,9 x", "'x' is not a point"},
        {"9,9 10,10 = 12|3 9,8", "expected 'value|score|nodes x,y'"},
        {"9,9 10,10 = 12|3|40 9,20", "expected 'value|score|nodes x,y'"},
    };
    for (const auto& [line, problem] : cases) {
        std::ofstream("set.txt") << "# comment\n\n9,9 10,10 = 1|2|3 4,5\n" << line << "\n";
        std::vector<SetPosition> positions;
        std::string error;
        EXPECT_FALSE(readPositionSet("set.txt", positions, error)) << line;
        EXPECT_NE(error.find("set.txt:4: "), std::string::npos) << error;
        EXPECT_NE(error.find(problem), std::string::npos) << error;
    }
    std::vector<SetPosition> positions;
    std::string error;
    EXPECT_FALSE(readPositionSet("missing.txt", positions, error));
    EXPECT_NE(error.find("cannot be read"), std::string::npos) << error;
}

}  // namespace
