// The db command and the knowledge base during play, through the engine itself.
#include <gtest/gtest.h>

#include <cstdio>

#include "knowledge_test_support.h"
#include "protocol/command_loop.h"

using namespace knowledge_test;

namespace {

// Runs the engine in dir on the given input and returns what it wrote.
std::string runEngine(const TempDir& dir, const std::string& input) { return runEngineIn(dir.path, TARVO_EXE, input); }

std::string playLines(const std::vector<int>& moves) {
    std::string text;
    for (const int m : moves) text += "play " + std::to_string(cellX(m)) + "," + std::to_string(cellY(m)) + "\n";
    return text;
}

constexpr const char* AboutReply = "name=\"pbrain-tarvo\"";

}  // namespace

TEST(DbCommand, CreateAddExportThenPlayFollowsAndLearns) {
    TempDir dir;
    writeText(dir.file("games/a.psq"), recordText("Piskvorky 20x20, 11:11, 0\n", firstPlayerWin()));
    std::string output = runEngine(dir, "db create\ndb add games\nabout\nend\n");
    EXPECT_EQ(output, "Done\nMESSAGE Saved to DB. (0)\nDEBUG Partie games/a.psq byla uspesne pridana do baze "
                      "znalosti.\n" + std::string(AboutLine) + "\n");
    EXPECT_EQ(decodeFile(dir.file("tarvo/experience.bin")).size(), 7u);

    std::filesystem::create_directories(dir.path / "tarvo/nodes");
    output = runEngine(dir, "db export\nend\n");
    EXPECT_EQ(output, "This operation can take several minutes, please wait...\nDone\n");
    EXPECT_TRUE(std::filesystem::exists(dir.path / "tarvo/nodes/node005.bin"));

    // A new run finds the database: the game is followed move by move, and
    // once it is decided it is offered to the database (which has it already).
    output = runEngine(dir, playLines(secondPlayerWin()) + "end\n");
    const std::string node = "MESSAGE databaze: \nMESSAGE {OO,0}, 3 0/0 iter=0 deep=0|5\n";
    EXPECT_TRUE(output.starts_with(node)) << output;
    EXPECT_NE(output.find("MESSAGE Saved to DB. (3)"), std::string::npos) << output;
    const std::vector<NodeRecord> rs = decodeFile(dir.file("tarvo/experience.bin"));
    EXPECT_EQ(rs.size(), 7u + 6u);  // the second game shares only the first move
    EXPECT_TRUE(treeIsSound(rs));
    EXPECT_EQ(rs[0].stats.secondWinsWhole, 1);
}

TEST(DbCommand, FailuresAreReportedAndTheLoopGoesOn) {
    TempDir dir;
    NodeRecord root = freshRoot();
    root.firstChild = 4800;  // far past the end of the file
    writeRecords(dir.file("tarvo/experience.bin"), {root});
    std::string output = runEngine(dir, "db export\nabout\nend\n");
    EXPECT_TRUE(output.starts_with("This operation can take several minutes, please wait...\nERROR ")) << output;
    EXPECT_EQ(output.find("Done"), std::string::npos) << output;
    EXPECT_NE(output.find(AboutReply), std::string::npos) << output;

    // Following a damaged tree: the move stands and the game goes on.
    output = runEngine(dir, playLines({at(9, 9)}) + "about\nend\n");
    EXPECT_TRUE(output.starts_with("MESSAGE Chyba2 databaze!\n")) << output;
    EXPECT_NE(output.find(AboutReply), std::string::npos) << output;

    std::filesystem::remove_all(dir.path / "tarvo");
    writeText(dir.file("tarvo"), "a file where the data directory should be");
    output = runEngine(dir, "db create\nabout\nend\n");
    EXPECT_TRUE(output.starts_with("ERROR ")) << output;
    EXPECT_NE(output.find(AboutReply), std::string::npos) << output;
}
