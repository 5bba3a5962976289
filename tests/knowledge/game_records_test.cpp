#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <sstream>

#include "knowledge/game_records.h"
#include "knowledge_test_support.h"

using namespace knowledge_test;

namespace {

std::vector<int32_t> asList(const std::vector<int>& cells) { return std::vector<int32_t>(cells.begin(), cells.end()); }

}  // namespace

TEST(GameRecords, ReadersTakeTriplesAfterTheirHeaders) {
    TempDir dir;
    struct Case {
        const char* name;
        bool rec;
        std::string text;
        bool result;
        std::vector<int32_t> moves;
    };
    const std::string longLine(600, 'h');
    const std::vector<Case> cases = {
        {"rec", true, "header\nsecond\n9,9,1\n10,9,2\n", true, {189, 190}},
        {"rec blanks", true, "a\nb\n  9,9,1\n\n 10,\t9,\n2 3,4,5 x 7,7,7", true, {189, 190, 83}},
        {"rec only headers", true, "a\nb\n", true, {}},
        {"rec one line", true, "a\n", false, {}},
        {"rec long header is two reads", true, longLine + "\n" + "b\n5,5,1\n", true, {}},
        {"rec blank before comma stops", true, "a\nb\n9,9,1\n10 ,9,2\n", true, {189}},
        {"rec coordinates as read", true, "a\nb\n25,0,1\n-3,1,1\n", true, {25, 17}},
        {"rec huge number", true, "a\nb\n99999999999999,1,1\n", true, {-1}},
        {"rec huge row", true, "a\nb\n9,922222222222222222222,0\n", true, {-1}},  // found by fuzzing
        {"rec coordinates that cancel", true, "a\nb\n20000000000,-1000000000,1\n", true, {-1}},
        {"psq", false, "Piskvorky 20x20, 11:11, 0\n9,9,1000\n10,10,20\n-1\n", true, {189, 210}},
        {"psq other size", false, "Piskvorky 15x15, 11:11\n9,9,1\n", false, {}},
        {"psq empty", false, "", false, {}},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file(c.name) + (c.rec ? ".rec" : ".psq");
        writeText(path, c.text);
        std::vector<int32_t> moves = {42};
        const bool result = c.rec ? readRecGame(path, moves) : readPsqGame(path, moves);
        EXPECT_EQ(result, c.result) << c.name;
        EXPECT_EQ(moves, c.moves) << c.name;
    }
    std::vector<int32_t> moves = {1};
    EXPECT_FALSE(readRecGame(dir.file("missing.rec"), moves));
    EXPECT_TRUE(moves.empty());
    EXPECT_FALSE(readPsqGame(dir.file("missing.psq"), moves));
}

TEST(GameRecords, JudgeGameCutsAfterTheDecidingMove) {
    struct Case {
        const char* name;
        std::vector<int> moves;
        int value;
        size_t kept;
    };
    std::vector<int> longGame = secondPlayerWin();
    for (int i = 0; i < 20; ++i) longGame.push_back(at(i, 19));
    std::vector<int> badAfterEnd = firstPlayerWin();
    badAfterEnd.push_back(400);
    std::vector<int> badBefore = firstPlayerWin();
    badBefore.insert(badBefore.begin() + 3, -1);
    std::vector<int> occupied = firstPlayerWin();
    occupied[4] = occupied[0];
    std::vector<int> repeatedLast = {at(1, 1), at(5, 5), at(7, 7), at(7, 7)};
    const std::vector<Case> cases = {
        {"empty", {}, Unsuitable, 0},
        {"undecided", {at(9, 9), at(4, 4), at(15, 15)}, Undecided, 3},
        {"first player", firstPlayerWin(), FirstPlayerWins, 6},
        {"second player, moves after the end", longGame, SecondPlayerWins, 7},
        {"bad cell after the end is cut unchecked", badAfterEnd, FirstPlayerWins, 6},
        {"bad cell before the end", badBefore, Unsuitable, 7},
        {"occupied cell", occupied, Unsuitable, 6},
        {"repeated last move", repeatedLast, Unsuitable, 3},
        {"x 25 y 0 is cell 25", {25, at(9, 9)}, Undecided, 2},
    };
    for (const Case& c : cases) {
        std::vector<int32_t> moves = asList(c.moves);
        EXPECT_EQ(judgeGame(moves), c.value) << c.name;
        EXPECT_EQ(moves.size(), c.kept) << c.name;
    }
}

namespace {

struct SaveFixture : ::testing::Test {
    TempDir dir;
    std::string path = dir.file("experience.bin");
    ExperienceDatabase db;
    std::ostringstream out;

    void SetUp() override { db.createFile(path); }

    bool save(const std::vector<int>& cells) {
        std::vector<int32_t> moves = asList(cells);
        const int value = judgeGame(moves);
        return saveGame(db, moves, value, out);
    }
};

}  // namespace

TEST_F(SaveFixture, ChoosesTheTemplateFromResultAndCut) {
    struct Case {
        const char* name;
        std::vector<int> moves;
        const char* report;
        int outcome, proof, disproof;
        size_t stored;
    };
    std::vector<int> cutSecond = {at(3, 3), at(4, 4), at(5, 3), at(2, 8), at(6, 6)};
    std::vector<int> cutFirst = firstPlayerWin();
    cutFirst[3] = at(17, 4);
    const std::vector<Case> cases = {
        {"whole, first player", firstPlayerWin(), "MESSAGE Saved to DB. (0)\n", 3, -1, 0, 6},
        {"whole, second player", secondPlayerWin(), "MESSAGE Saved to DB. (3)\n", 0, 0, -1, 7},
        {"cut, first player", cutFirst, "MESSAGE Saved to DB. (1) Cut before move 4 (17,4): near the edge\n", 1, 1, 1,
         3},
        {"cut from (3,3), undecided", cutSecond, "MESSAGE Saved to DB. (1) Cut before move 4 (2,8): near the edge\n", 1,
         1, 1, 3},
    };
    for (const Case& c : cases) {
        db.createFile(path);
        out.str("");
        EXPECT_TRUE(save(c.moves)) << c.name;
        EXPECT_EQ(out.str(), c.report) << c.name;
        const std::vector<NodeRecord> rs = decodeFile(path);
        ASSERT_EQ(rs.size(), c.stored + 1) << c.name;
        EXPECT_TRUE(treeIsSound(rs));
        for (size_t i = 1; i < rs.size(); ++i) {
            EXPECT_EQ(rs[i].stats.outcome, c.outcome) << c.name;
            EXPECT_EQ(rs[i].stats.proof, c.proof) << c.name;
            EXPECT_EQ(rs[i].stats.disproof, c.disproof) << c.name;
            EXPECT_EQ(rs[i].stats.ply, int(i - 1)) << c.name;
            EXPECT_EQ(rs[i].stats.toEnd, int(rs.size() - 1 - i)) << c.name;
        }
        EXPECT_EQ(rs.back().stats.secondWinsWhole, c.outcome == 0 ? 1 : 0);
        EXPECT_EQ(rs.back().stats.secondWinsCut, c.outcome == 2 ? 1 : 0);
    }
}

TEST_F(SaveFixture, RefusedGamesReportTheFailureAndStoreNothing) {
    struct Case {
        std::vector<int> cells;
        const char* report;
    };
    std::vector<int> edgeFirst = firstPlayerWin();
    edgeFirst[0] = at(2, 10);
    const Case cases[] = {
        {{at(9, 9), at(4, 4), at(10, 9), at(15, 15)}, "MESSAGE Saving to DB failed. Too short: 4 moves\n"},
        {edgeFirst, "MESSAGE Saving to DB failed. The first move (2,10) is near the edge\n"},
    };
    for (const Case& c : cases) {
        out.str("");
        std::vector<int32_t> moves = asList(c.cells);
        EXPECT_FALSE(saveGame(db, moves, Undecided, out));
        EXPECT_EQ(out.str(), c.report);
        EXPECT_EQ(decodeFile(path).size(), 1u);
    }
    ExperienceDatabase closed;
    std::vector<int32_t> moves = asList(firstPlayerWin());
    out.str("");
    EXPECT_FALSE(saveGame(closed, moves, FirstPlayerWins, out));
    EXPECT_EQ(out.str(), "MESSAGE Saving to DB failed. No experience file is open\n");
}

// Keys do not tell far-apart offsets apart: the game is stored up to its
// first move whose key does not give it back, as a cut game.
TEST_F(SaveFixture, AGameIsCutAtItsFirstMoveThatCannotBeKeyed) {
    struct Case {
        const char* name;
        std::vector<int> cells;
        const char* report;
        std::vector<int> keys;
    };
    const Case cases[] = {
        // (3, 9) then (14, 9): the key 200 reads back as another cell.
        {"collision", {at(3, 9), at(14, 9), at(5, 5), at(6, 6), at(7, 12)},
         "MESSAGE Saved to DB. (1) Cut before move 2 (14,9): too far from the first move to be keyed\n", {189}},
        // (3, 16) then (16, 3): the key 462 is no cell.
        {"off the board", {at(3, 16), at(16, 3), at(5, 5), at(6, 6), at(7, 12)},
         "MESSAGE Saved to DB. (1) Cut before move 2 (16,3): too far from the first move to be keyed\n", {189}},
        // A human game opened at (16, 7) that goes far to the left; opened
        // at (12, 7) it is kept whole.
        {"far left", {at(16, 7), at(15, 8), at(5, 10), at(15, 9), at(6, 10), at(14, 12), at(7, 10)},
         "MESSAGE Saved to DB. (1) Cut before move 3 (5,10): too far from the first move to be keyed\n",
         {189, 210}},
    };
    for (const Case& c : cases) {
        db.createFile(path);
        out.str("");
        std::vector<int32_t> moves = asList(c.cells);
        EXPECT_TRUE(saveGame(db, moves, Undecided, out)) << c.name;
        EXPECT_EQ(out.str(), c.report) << c.name;
        const std::vector<NodeRecord> rs = decodeFile(path);
        ASSERT_EQ(rs.size(), c.keys.size() + 1) << c.name;
        for (size_t i = 0; i < c.keys.size(); ++i) {
            EXPECT_EQ(rs[i + 1].move, c.keys[i]) << c.name;
            EXPECT_EQ(rs[i + 1].stats.outcome, CutFirstWins) << c.name;
        }
    }
}

TEST_F(SaveFixture, SavingTwiceCreatesNoRecord) {
    ASSERT_TRUE(save(secondPlayerWin()));
    const std::string before = readBytes(path);
    ASSERT_TRUE(save(secondPlayerWin()));
    EXPECT_EQ(readBytes(path), before);
    EXPECT_EQ(out.str(), "MESSAGE Saved to DB. (3)\nMESSAGE Saved to DB. (3)\n");
}

namespace {

int saveOnAFullDisk(ExperienceDatabase& db, const std::string& path) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{96, 96};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::ostringstream out;
    std::vector<int32_t> moves = asList(firstPlayerWin());
    const bool saved = saveGame(db, moves, FirstPlayerWins, out);
    const bool reported = out.str() == "MESSAGE Saving to DB failed. File error\n";
    return !saved && reported && treeIsSound(decodeFile(path)) ? 0 : 1;
}

}  // namespace

TEST_F(SaveFixture, AFullDiskIsReportedAndTheGameGoesOn) {
    EXPECT_EXIT(std::exit(saveOnAFullDisk(db, path)), ::testing::ExitedWithCode(0), "");
}
