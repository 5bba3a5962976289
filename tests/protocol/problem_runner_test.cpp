#include "protocol/problem_runner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "protocol/command_loop.h"
#include "protocol/scratch_directory.h"

namespace {

void writePosition(const std::string& path, const std::vector<int>& xs, const std::vector<int>& os) {
    std::string marks(400, '-');
    for (int c : xs) marks[c] = 'x';
    for (int c : os) marks[c] = 'o';
    std::ofstream file(path);
    for (int row = 0; row < 20; ++row) file << marks.substr(row * 20, 20) << '\n';
}

// P a picture (a run of DEBUG lines), C a choice line, M a move, * the separator.
std::string shape(const std::string& text) {
    std::istringstream lines(text);
    std::string pattern;
    const std::regex move("[0-9]+,[0-9]+");
    for (std::string line; std::getline(lines, line);) {
        char kind = '?';
        if (line.rfind("DEBUG ", 0) == 0)
            kind = 'P';
        else if (line.rfind("MESSAGE ", 0) == 0)
            kind = 'C';
        else if (std::regex_match(line, move))
            kind = 'M';
        else if (line == std::string(30, '*'))
            kind = '*';
        if (kind == 'P' && !pattern.empty() && pattern.back() == 'P') continue;
        pattern += kind;
    }
    return pattern;
}

std::string runCommands(GameSession& game, std::ostringstream& out, const std::string& input) {
    std::istringstream in(input);
    CommandLoop loop(game, in);
    loop.run();
    return out.str();
}

TEST(ProblemRunnerTest, PathsHoldTheSetAndSixDigits) {
    EXPECT_EQ(problemPath(7, 'a'), "tarvo/problems1/000007-a.dat");
    EXPECT_EQ(problemPath(42, 'b'), "tarvo/problems1/000042-b.dat");
    EXPECT_EQ(problemPath(999999, 'a'), "tarvo/problems1/999999-a.dat");
}

TEST(ProblemRunnerTest, PicturesChoicesAndMovesComeInTheirOrder) {
    ScratchDirectory scratch;
    std::filesystem::create_directory("tarvo/problems1");
    writePosition("tarvo/problems1/000007-a.dat", {189, 169, 209}, {190, 168, 149});
    writePosition("tarvo/problems1/000007-b.dat", {189, 190, 191}, {0, 19, 380});
    std::ostringstream out;
    GameSession game(out);
    game.timeLeft = 600;  // a deadline already past keeps every choice to the first listed move
    const std::string text = runCommands(game, out, "problem 7\nend\n");
    // The "b" position gives x an open four at once: its choice lines are fast replies.
    EXPECT_EQ(shape(text), "PCMPCPC*PCMPC") << text;
    EXPECT_NE(text.find("MESSAGE fast reply\n"), std::string::npos);
    EXPECT_EQ(game.board.moveCount(), 7);
    EXPECT_EQ(game.moveRecordCount, 3);
    EXPECT_FALSE(game.followsExperienceDatabase);
}

TEST(ProblemRunnerTest, MissingFilesAndNumbersOutOfRangeAreReported) {
    ScratchDirectory scratch;
    const struct {
        const char* input;
        const char* reply;
    } cases[] = {
        {"problem 3\nend\n", "ERROR Cannot open the problem file tarvo/problems1/000003-a.dat\n"},
        {"problem -1\nend\n", "ERROR Problem number -1 is outside 0..999999\n"},
        {"problem 1000000\nend\n", "ERROR Problem number 1000000 is outside 0..999999\n"},
    };
    for (const auto& c : cases) {
        std::ostringstream out;
        GameSession game(out);
        EXPECT_EQ(runCommands(game, out, c.input), c.reply);
    }
}

}  // namespace
