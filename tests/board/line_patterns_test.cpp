#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <string>

#include "board/line_patterns.h"

namespace {

// '#' own stone, '.' empty, far backward end first.
int codeOf(const std::string& pattern) {
    int code = 1;
    for (char c : pattern) code = 2 * code + (c == '#' ? 1 : 0);
    return code;
}

using Cells = std::array<uint8_t, CellCount>;

// Stones as letter pairs: "hj" is (7, 9).
void place(Cells& board, const std::string& xs, const std::string& os) {
    auto place = [&](const std::string& list, uint8_t stone) {
        for (size_t i = 0; i + 1 < list.size(); i += 2) board[cellAt(list[i] - 'a', list[i + 1] - 'a')] = stone;
    };
    place(xs, StoneX);
    place(os, StoneO);
}

TEST(LinePatterns, LineClassCounts) {
    std::map<int, int> counts;
    for (int code = 0; code < CodeCount; ++code) ++counts[lineClass(code)];
    const std::map<int, int> expected = {{0, 80},  {1, 72},  {12, 207}, {11, 160},
                                         {13, 201}, {16, 123}, {17, 89},  {18, 92}};
    EXPECT_EQ(counts, expected);
}

TEST(LinePatterns, LineClassExamples) {
    const std::pair<const char*, int> cases[] = {
        {"#####", 0},   {".#####", 0},  {".####.", 1},  {".####.#", 1}, {"#.###.#", 1}, {".####", 12},
        {"#.###", 12},  {"##.##", 12},  {"..###.", 11}, {".#.##.", 11}, {"..###", 13},  {".#.##", 13},
        {".###.", 13},  {"...##.", 16}, {"..#.#.", 16}, {"...##", 17},  {"..#.#", 17},  {"####", 18},
        {"#", 18},      {".....", 18},  {"######", 0},  {"#####.#", 0},
    };
    for (const auto& [pattern, expected] : cases) EXPECT_EQ(lineClass(codeOf(pattern)), expected) << pattern;
    EXPECT_EQ(lineClass(0), 18);
    EXPECT_EQ(lineClass(1), 18);
}

TEST(LinePatterns, PairTable) {
    const int lineClasses[] = {0, 1, 11, 12, 13, 16, 17, 18};
    int defined = 0;
    for (int a = 0; a < ClassCount; ++a)
        for (int b = 0; b < ClassCount; ++b) {
            const bool both = std::count(std::begin(lineClasses), std::end(lineClasses), a) &&
                              std::count(std::begin(lineClasses), std::end(lineClasses), b);
            if (!both) {
                EXPECT_EQ(pairClass(a, b), -1) << a << "," << b;
                continue;
            }
            ++defined;
            EXPECT_EQ(pairClass(a, b), pairClass(b, a)) << a << "," << b;
        }
    EXPECT_EQ(defined, 64);
    const int cases[][3] = {{0, 18, 0},  {1, 1, 1},    {11, 11, 3},  {11, 12, 2}, {11, 13, 5},
                            {11, 16, 6}, {12, 12, 1},  {12, 13, 4},  {12, 16, 7}, {13, 13, 8},
                            {16, 16, 9}, {13, 16, 10}, {11, 18, 11}, {12, 18, 12}, {13, 17, 13},
                            {16, 17, 14}, {17, 17, 15}, {16, 18, 16}, {17, 18, 17}, {18, 18, 18}};
    for (const auto& c : cases) EXPECT_EQ(pairClass(c[0], c[1]), c[2]) << c[0] << "," << c[1];
}

TEST(LinePatterns, LineDistances) {
    const std::pair<const char*, int> cases[] = {
        {".###.", 2}, {".###..", 1}, {".##.", 6},   {"#####", 0}, {".####.", 0}, {".####", 1},
        {"..#.#.", 2}, {"..##..", 2}, {"...#..", 3}, {"..#..", 4}, {"......", 4}, {".....", 5},
        {"..##.", 3},  {"#", 6},
    };
    for (const auto& [pattern, expected] : cases) EXPECT_EQ(lineDistance(codeOf(pattern)), expected) << pattern;
    EXPECT_EQ(lineDistance(0), 0);
    EXPECT_EQ(lineDistance(1), 0);
    for (int code = 2; code < CodeCount; ++code) {
        EXPECT_GE(lineDistance(code), 0);
        EXPECT_LE(lineDistance(code), 6);
    }
}

TEST(LinePatterns, DefenceCells) {
    auto defencePoints = [](const std::string& pattern) {
        std::string points;
        for (size_t i = 0; i < SegmentMax; ++i) {
            const int v = defenceCell(codeOf(pattern), static_cast<int>(i));
            if (i >= pattern.size()) {
                EXPECT_EQ(v, 0) << pattern << " beyond " << i;
                continue;
            }
            if (pattern[i] == '#') {
                EXPECT_EQ(v, 0) << pattern << " stone " << i;
            }
            points += v ? '1' : '0';
        }
        return points;
    };
    EXPECT_EQ(defencePoints(".####"), "10000");
    EXPECT_EQ(defencePoints("##.##"), "00100");
    EXPECT_EQ(defencePoints(".###."), "10001");
    EXPECT_EQ(defencePoints("..###."), "110001");
    EXPECT_EQ(defencePoints(".####."), "100001");  // either end turns the open four into a four
}

TEST(LinePatterns, WorkedExampleCodes) {
    // x at (7,9), (8,9); o at (11,9); cell (9,9).
    Cells board{};
    place(board, "hjij", "lj");
    int x, o;
    lineCodes(board.data(), cellAt(9, 9), 0, x, o);
    EXPECT_EQ(x, 78);
    EXPECT_EQ(o, 52);
    EXPECT_EQ(lineClass(x), 11);
    EXPECT_EQ(lineClass(o), 17);
    int kx, ko;
    classifyByScanning(board.data(), cellAt(9, 9), kx, ko);
    EXPECT_EQ(kx, 11);
    EXPECT_EQ(ko, 17);
    EXPECT_EQ(emptyFormCode(board.data(), cellAt(9, 9), 0, 1), 78 - 2);
    EXPECT_EQ(emptyFormCode(board.data(), cellAt(9, 9), 0, 0), 52 - 16);
}

TEST(LinePatterns, CellClasses) {
    struct Case {
        const char* name;
        const char* xs;
        const char* os;
        int xClass, oClass;
    };
    const Case cases[] = {
        {"empty board", "", "", 18, 18},
        {"overline counts", "fjgjhjijkj", "", 0, 18},
        {"open four with a stone beyond a gap", "gjhjijlj", "", 1, 18},
        {"four and open three", "gjhjijjhji", "fj", 2, 18},
        {"two fours", "gjhjijjgjhji", "fjjf", 1, 18},
        {"two open threes", "hjijjhji", "", 3, 18},
        {"three and open two", "hjijji", "gj", 10, 18},
        {"open four", "gjhjij", "", 1, 18},
        {"plain four", "gjhjij", "fj", 12, 18},
        {"o open three", "", "hjij", 18, 11},
    };
    for (const auto& c : cases) {
        Cells board{};
        place(board, c.xs, c.os);
        int kx, ko;
        classifyByScanning(board.data(), cellAt(9, 9), kx, ko);
        EXPECT_EQ(kx, c.xClass) << c.name;
        EXPECT_EQ(ko, c.oClass) << c.name;
    }
}

TEST(LinePatterns, EdgeAndBlockedCodes) {
    Cells board{};
    int x, o;
    lineCodes(board.data(), 0, 0, x, o);  // corner: the cell and four points to one side
    EXPECT_EQ(x, 48);
    EXPECT_EQ(o, 48);
    EXPECT_EQ(lineClass(48), 18);
    place(board, "", "ijkj");  // o on both sides of (9, 9)
    lineCodes(board.data(), cellAt(9, 9), 0, x, o);
    EXPECT_EQ(x, 3);
    EXPECT_EQ(lineClass(x), 18);
    EXPECT_EQ(emptyFormCode(board.data(), cellAt(9, 9), 0, 1), 2);
}

}  // namespace
