#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "knowledge/experience_database.h"
#include "knowledge/game_records.h"
#include "knowledge/knowledge_test_support.h"
#include "protocol/session_driver.h"

using namespace knowledge_test;

namespace {

std::string plays(const std::vector<int>& moves) {
    std::string text;
    for (const int m : moves) text += "play " + std::to_string(cellX(m)) + "," + std::to_string(cellY(m)) + "\n";
    return text;
}

// The last line the driver wrote.
std::string lastLine(const std::string& output) {
    const size_t end = output.find_last_of('\n', output.size() - 2);
    return output.substr(end == std::string::npos ? 0 : end + 1);
}

// What the board page shows for each threat class, in class order.
const char* const ClassNames =
    "\"classNames\":[\"five\",\"open four or two fours\",\"four and open three\",\"two open threes\","
    "\"four and three\",\"open three and three\",\"open three and open two\",\"four and open two\","
    "\"two threes\",\"two open twos\",\"three and open two\",\"open three\",\"four\",\"three\"],";

}  // namespace

TEST(EngineState, TellsWhereTheLastChoiceWasMadeAndWhetherTheRecordNumbersTheStones) {
    struct Case {
        const char* input;
        std::vector<std::string> parts;
    };
    const Case cases[] = {
        {"start 20\nstate\n", {"\"moveCount\":0", "\"moves\":[]", "\"choice\":null", ClassNames, "\"listed\":{\"result\":0,\"moves\":[[9,9]]}"}},
        // The reply was chosen one move ago and played: this is the position it led to.
        {"start 20\nturn 9,9\nstate\n", {"\"choice\":{\"source\":\"forced\",\"move\":[10,9]", "\"position\":\"previous\"",
                                         "\"moves\":[[9,9],[10,9]]", "\"side\":\"o\""}},
        {"start 20\nturn 9,9\nturn 10,10\nbest\nstate\n", {"\"source\":\"search\"", "\"position\":\"current\""}},
        {"start 20\nturn 9,9\nturn 10,10\nplay 3,3\nstate\n", {"\"position\":\"old\""}},
        {"start 20\nturn 9,9\nin .\nstate\n", {"\"moves\":null", "\"moveCount\":1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        SessionDriver driver;
        const std::string line = lastLine(driver.run(std::string(c.input) + "end\n"));
        EXPECT_EQ(line.front(), '{');
        for (const std::string& part : c.parts) EXPECT_NE(line.find(part), std::string::npos) << part << "\n" << line;
    }
}

TEST(EngineState, DecidedPositionsAreLearnedOnlyFromGamesPlayedWithLearningOn) {
    // The same moves decide the game in every case; only the first stores it.
    struct Case {
        const char* before;
        bool stored;
    };
    const Case cases[] = {
        {"", true},
        {"learn off\n", false},
        {"learn off\nlearn on\n", true},
        // A loaded position is no game, whatever is played on it.
        {"read position.txt\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        TempDir dir;
        runEngineIn(dir.path, TARVO_EXE, "db create\nend\n");
        writeText(dir.file("position.txt"), std::string(400, '-'));
        const std::string output =
            runEngineIn(dir.path, TARVO_EXE, std::string("start 20\n") + c.before + plays(firstPlayerWin()) + "end\n");
        EXPECT_EQ(output.find("MESSAGE Saved to DB.") != std::string::npos, c.stored) << output;
        EXPECT_EQ(decodeFile(dir.file("tarvo/experience.bin")).size() > 1, c.stored);
    }
}

TEST(EngineState, ContinuationsCountTheStoredGamesBelowEachChildWithinTheBudget) {
    TempDir dir;
    ExperienceDatabase db;
    db.createFile(dir.file("experience.bin"));
    // Classes by template: 0 -> 3, 1 -> 1, 2 -> 2, 3 -> 0.
    const std::vector<std::pair<std::vector<int32_t>, int>> lines = {
        {{189, 190, 211, 212}, 0}, {{189, 190, 210}, 3}, {{189, 190, 211, 232}, 2}, {{189, 210}, 1}};
    for (const auto& [moves, index] : lines) {
        std::vector<NodeStats> stats(moves.size(), statsTemplates[index]);
        for (size_t i = 0; i < stats.size(); ++i) stats[i].ply = int32_t(i);
        db.mergeLine(moves, stats);
    }
    struct Case {
        std::vector<int> path;
        int32_t budget;
        std::vector<std::vector<int32_t>> games;  // per child in chain order
        std::vector<bool> counted;
    };
    const Case cases[] = {
        {{}, 100, {{1, 1, 1, 1}}, {true}},
        {{189}, 100, {{1, 0, 1, 1}, {0, 1, 0, 0}}, {true, true}},
        {{189, 190}, 100, {{0, 0, 1, 1}, {1, 0, 0, 0}}, {true, true}},
        // Two reads: the chain below 190 (211, 210) and no further.
        {{189}, 2, {{1, 0, 0, 0}, {0, 1, 0, 0}}, {false, true}},
        {{}, 0, {{0, 0, 0, 0}}, {false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.budget);
        db.rewind();
        for (const int move : c.path) ASSERT_TRUE(db.descend(move));
        const std::vector<Continuation> children = db.continuations(c.budget);
        ASSERT_EQ(children.size(), c.games.size());
        for (size_t i = 0; i < children.size(); ++i) {
            EXPECT_EQ(std::vector<int32_t>(children[i].gamesByClass, children[i].gamesByClass + 4), c.games[i]) << i;
            EXPECT_EQ(children[i].counted, c.counted[i]) << i;
        }
    }
}
