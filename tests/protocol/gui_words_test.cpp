// What Yixin-Board and the swap2 managers send beyond the base protocol.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "platform/clock.h"
#include "protocol/referee_runner.h"
#include "protocol/scratch_directory.h"
#include "protocol/search_level.h"
#include "protocol/session_driver.h"
#include "protocol/stone_lists.h"
#include "search/turn_search.h"
#include "search/static_value.h"
#include "search/winrate.h"

namespace {

// What a shell command prints, and whether it exited with status 0.
std::string commandOutput(const std::string& command, bool& exitedZero) {
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char buffer[4096];
    for (size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    const int status = pipe ? pclose(pipe) : -1;
    exitedZero = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return output;
}

// A whole game as Yixin-Board plays it, lower case and CR LF, with its yx
// words, yxnbest 3 and the analysis blocks of every reply checked. At its
// "unlimited" level the brain thinks until Stop, pressed here after 0.3 s.
TEST(GuiWords, YixinBoardSessionEndToEnd) {
    const std::string command = "python3 " + shellQuote(std::string(TARVO_SOURCE_DIR) + "/tools/gui_session.py") +
                                " --engine " + shellQuote(TARVO_EXE) + " --moves 10 --think 0.3 2>&1";
    bool exitedZero = false;
    const std::string output = commandOutput(command, exitedZero);
    EXPECT_TRUE(exitedZero) << output;
    EXPECT_NE(output.find(", 0 ERROR lines"), std::string::npos) << output;
    EXPECT_NE(output.find("yxnbest 3: "), std::string::npos) << output;
}

TEST(GuiWords, UnknownYxWordsAreQuietOnlyAfterYxshowinfo) {
    ScratchDirectory scratch;
    SessionDriver session;
    const std::string before = session.run("yxfoo\r\nend\r\n");
    EXPECT_EQ(before, "ERROR Unknown Command!\n");
    const std::string after = session.run(
        "yxshowinfo\r\nyxfoo 3\r\n1,2,1\r\n3,4,2\r\ndone\r\nyxblock\r\ndone\r\nyxbar\r\nabout\r\nend\r\n");
    const std::regex expected("MESSAGE INFO MAX_THREAD_NUM 1\nMESSAGE INFO MAX_HASH_SIZE ([0-9]+)\nname=.*\n");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(after, match, expected)) << after;
    // The GUI's units: log2 of the kilobytes of the largest table INFO
    // hash_size can give the deeper search (its slider's maximum, in MB, is
    // 2^(k - 10)).
    EXPECT_EQ(size_t{1024} << std::stoi(match[1]), MaxTableBytes);
}

struct Swap2Case {
    const char* name;
    std::string stones;  // the lines between SWAP2BOARD and DONE
    int placed;
    std::string allowed;  // what the one reply line may be
};

TEST(GuiWords, Swap2BoardAnswersEachCaseOnOneLine) {
    const std::string point = "[0-9]+,[0-9]+";
    const Swap2Case cases[] = {
        {"the opening", "", 0, point + " " + point + " " + point},
        {"three stones", "7,7\r\n8,7\r\n9,9\r\n", 3, "SWAP|" + point + "|" + point + " " + point},
        {"five stones", "7,7\r\n8,7\r\n9,9\r\n8,8\r\n8,6\r\n", 5, "SWAP|" + point},
        // The engine's own judgement: it stays white when white is ahead, and
        // takes black when black has an open three.
        {"white ahead", "9,9\r\n10,10\r\n0,0\r\n11,11\r\n19,19\r\n", 5, point},
        {"black ahead", "9,9\r\n0,0\r\n10,9\r\n19,19\r\n11,9\r\n", 5, "SWAP"},
        {"two stones", "7,7\r\n8,7\r\n", -1, "ERROR .*"},
        {"a stone twice", "7,7\r\n8,7\r\n7,7\r\n", -1, "ERROR .*"},
        {"off the board", "7,7\r\n8,20\r\n9,9\r\n", -1, "ERROR .*"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDirectory scratch;
        SessionDriver session;
        const std::string output =
            session.run("INFO timeout_turn 1000\r\nSWAP2BOARD\r\n" + c.stones + "DONE\r\nend\r\n");
        ASSERT_TRUE(output.ends_with("\n") && output.find('\n') == output.size() - 1) << output;
        const std::string reply = output.substr(0, output.size() - 1);
        EXPECT_TRUE(std::regex_match(reply, std::regex(c.allowed))) << reply;
        EXPECT_EQ(session.game.board.moveCount(), 0);  // the game's Board is not touched
        if (c.placed < 0 || reply == "SWAP") continue;
        // Every stone named lies on an empty point, and on a different one.
        std::set<std::string> taken;
        std::istringstream given(c.stones), named(reply);
        for (std::string word; given >> word;) taken.insert(word);
        for (std::string word; named >> word;) EXPECT_TRUE(taken.insert(word).second) << word;
        if (c.placed != 5) continue;
        // The sixth stone is the move the engine plays as white in a game.
        std::string board = "START 20\r\nINFO timeout_turn 1000\r\nBOARD\r\n";
        std::istringstream stones(c.stones);
        int i = 0;
        for (std::string word; stones >> word; ++i) board += word + (i % 2 ? ",1\r\n" : ",2\r\n");
        SessionDriver game;
        const std::string played = game.run(board + "DONE\r\nend\r\n");
        EXPECT_TRUE(played.ends_with("\n" + reply + "\n")) << played;
    }
}

// What a GUI shows for a reply: the EVAL of its analysis block.
std::string evalOf(const std::string& output) {
    std::smatch m;
    return std::regex_search(output, m, std::regex("INFO EVAL ([^\n]*)\n")) ? std::string(m[1]) : "none";
}

// A reply that runs no search shows no static score: a decided position's
// proof, else the last search's value for the same side while its stones
// still stand, else the value of a search of the position.
TEST(GuiWords, RepliesWithoutASearchShowASearchedValue) {
    ScratchDirectory scratch;
    SessionDriver gui;
    // Time enough that no search here is cut short, in a sanitised build too.
    const std::string clock = "INFO timeout_turn 120000\r\nINFO time_left 10000000\r\n";
    const std::string quiet = clock + "start 20\r\ninfo show_detail 1\r\nboard\r\n5,4,1\r\n5,5,2\r\n12,12,1\r\n5,6,2\r\n"
                              "12,13,1\r\n5,7,2\r\ndone\r\n";
    const std::string searched = gui.run(quiet);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(searched, m, std::regex("MESSAGE (-?[0-9]+)\\|"))) << searched;
    const std::string value = m[1];
    ASSERT_TRUE(std::regex_search(searched, m, std::regex("\n([0-9]+,[0-9]+)\n$"))) << searched;
    ASSERT_EQ(std::string(m[1]), "12,11");
    // The opponent's four: the block is a fast reply, the value the search's.
    const std::string four = "start 20\r\nboard\r\n5,4,1\r\n5,5,2\r\n12,12,1\r\n5,6,2\r\n12,13,1\r\n5,7,2\r\n"
                             "12,11,1\r\n5,8,2\r\ndone\r\n";
    const std::string blocked = gui.run(four);
    EXPECT_NE(blocked.find("MESSAGE fast reply"), std::string::npos) << blocked;
    EXPECT_EQ(evalOf(blocked), value) << blocked;
    EXPECT_NE(blocked.find("value " + value + " ("), std::string::npos) << blocked;

    // The opening reply of a fresh game: a search of the position gives it.
    SessionDriver fresh;
    const std::string opened = fresh.run(clock + "start 20\r\ninfo show_detail 1\r\nturn 9,9\r\n");
    auto board = boardOfStones({cellAt(9, 9)});
    SearchContext context;
    context.moveDeadline = platform::clockAdd(platform::clockMs(), 1 << 30);
    EXPECT_EQ(evalOf(opened), std::to_string(searchPosition(context, *board, 7).value)) << opened;
    EXPECT_EQ(opened.find("INFO EVAL " + std::to_string(scorePosition(*board)) + "\n"), std::string::npos) << opened;
}

// Both answer at once and exit 0; an engine that read standard input instead
// would answer the empty input with an ERROR line.
TEST(GuiWords, HelpAndVersionNeverReadTheProtocol) {
    const struct {
        const char* option;
        const char* shows;
    } cases[] = {{"--help", "DIR/pbrain-tarvo/tarvo/"}, {"--version", "pbrain-tarvo 0."}};
    for (const auto& c : cases) {
        bool exitedZero = false;
        const std::string output = commandOutput(shellQuote(TARVO_EXE) + " " + c.option + " < /dev/null", exitedZero);
        EXPECT_TRUE(exitedZero) << c.option;
        EXPECT_NE(output.find(c.shows), std::string::npos) << output;
        EXPECT_EQ(output.find("ERROR"), std::string::npos) << output;
    }
}

// A GUI that closes the pipe, or a manager killed, ends the input without
// END: the engine leaves quietly with status 0.
TEST(GuiWords, ClosedInputEndsQuietly) {
    for (const char* input : {"START 20\\r\\nBEGIN\\r\\n", "START 20\\nabout", "", "yxshowinfo\\r\\n  \\r\\n"}) {
        bool exitedZero = false;
        const std::string output =
            commandOutput("printf '" + std::string(input) + "' | " + shellQuote(TARVO_EXE), exitedZero);
        EXPECT_TRUE(exitedZero) << input;
        EXPECT_EQ(output.find("ERROR"), std::string::npos) << input << output;
    }
}

}  // namespace
