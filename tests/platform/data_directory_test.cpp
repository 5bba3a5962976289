// The engine finds its "tarvo" folder beside the executable when a manager
// starts it in a folder of its own, as Piskvork does.
#include <gtest/gtest.h>

#include <filesystem>

#include "knowledge/knowledge_test_support.h"

using namespace knowledge_test;
namespace fs = std::filesystem;

namespace {

struct FolderCase {
    const char* name;
    bool workHasDataFolder;  // an empty "tarvo" in the working directory
    const char* reply;       // the opening move after BEGIN
    bool recommended;
};

TEST(DataDirectory, WorkingFolderFirstThenTheExecutablesFolder) {
    const FolderCase cases[] = {
        {"no tarvo in the working folder: the one beside the executable", false, "9,10", true},
        {"a tarvo in the working folder wins, even without a database", true, "9,9", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const fs::path bin = dir.path / "brains", work = dir.path / "psqp1234";
        fs::create_directories(bin);
        fs::create_directories(work);
        const fs::path exe = bin / "pbrain-tarvo";
        fs::copy_file(TARVO_EXE, exe);
        // The brain's own folder gets a database holding one game, started there.
        writeText((bin / "game.psq").string(), recordText("Piskvork 20x20, 0:0, 0\n", firstPlayerWin()));
        runEngineIn(bin, exe.string(), "db create\ndb add game.psq\nend\n");
        ASSERT_TRUE(fs::exists(bin / "tarvo/experience.bin"));
        fs::create_directories(bin / "tarvo/nodes");
        if (c.workHasDataFolder) fs::create_directories(work / "tarvo");

        const std::string output = runEngineIn(work, exe.string(), "START 20\r\nBEGIN\r\ndb export\r\nEND\r\n");
        std::string replyLine = "\n";
        replyLine.append(c.reply).append("\n");
        EXPECT_NE(output.find(replyLine), std::string::npos) << output;
        EXPECT_EQ(output.find("MESSAGE Doporuceny: 209") != std::string::npos, c.recommended) << output;
        // The export follows the same choice of folder as the database.
        EXPECT_EQ(!fs::is_empty(bin / "tarvo/nodes"), c.recommended);
        EXPECT_FALSE(fs::exists(work / "tarvo/nodes"));
    }
}

}  // namespace
