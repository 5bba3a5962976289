#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "protocol/command_loop.h"
#include "protocol/scratch_directory.h"
#include "protocol/session_driver.h"

namespace {

// Output of a whole run in a fresh session.
std::string engineOutput(const std::string& text) {
    std::istringstream in(text);
    std::ostringstream out;
    EXPECT_EQ(runEngine(in, out), 0);
    return out.str();
}

const std::string Unknown = "ERROR Unknown Command!\n";
const std::string Mismatch = "ERROR Fatal Error, Protocol Mismatch!\n";
const std::string About = std::string(AboutLine) + "\n";

std::string ruleMessage(int rule) {
    return "MESSAGE Only freestyle is played: five or more in a row wins, overlines too (rule " +
           std::to_string(rule) + " is not followed)\n";
}

TEST(CommandLoop, RepliesOfWholeRuns) {
    struct Case { std::string input; std::string output; };
    const Case cases[] = {
        {"about\nend\n", About},
        {"ABOUT\nAbout\nend", About + About},  // the end of input ends "end"
        {"foo bar\nend\n", Unknown + Unknown},
        {"turns 1,1\nend\n", Unknown + Unknown},
        {"turn 20,0\nabout\n", Mismatch},
        {"turn -1,5\nabout\n", Mismatch},
        {"turn 10;10\nabout\n", Mismatch},
        {"play 10,x\nabout\n", Mismatch},
        {"zturn x\nabout\n", Mismatch},
        {"zturn 400\nabout\nend\n", "ERROR Cell 400 is outside 0..399\n" + About},
        {"zturn -1\nend\n", "ERROR Cell -1 is outside 0..399\n"},
        {"START 20\nend\n", "OK\n"},
        {"start\n20\nend\n", "OK\n"},
        {"START 15\nabout\nend\n",
         "ERROR Unsupport size of board, supported size is 20!\n" + About},
        {"START  20\nabout\n", Mismatch},
        {"START x\nabout\n", Mismatch},
        {"start 99999999999\nend\n", "ERROR Unsupport size of board, supported size is 20!\n"},
        {"moveback\n0move\nend\n", ""},
        {"INFO timeout_turn -1\nabout\n", Mismatch},
        {"INFO time_left x\nabout\n", Mismatch},
        {"INFO rule 1\nabout\nend\n", ruleMessage(1) + About},
        {"INFO folder\nabout\nend\n", About},
        {"INFO timeout_turn 5000 about\nend\n", About},
        {"INFO\nend\n", ""},  // "end" is taken as the key; then a quiet end of input
        {"db import\nend\n", ""},
        {"db " + std::string(1100, 'a') + " about\nend\n",
         "ERROR Word longer than 1023 characters ignored\n" + About},
        {"problem x\nend\n", "ERROR Problem number expected\n" + Unknown},
        {std::string(5000, 'x') + "\nabout\nend\n", Unknown + About},
        {"end\nabout\n", ""},
        // A closed input is no command: the engine leaves without a word.
        {"about\n", About},
        {"about", About},
        {"", ""},
        {"about\n \r\n\t", About},
        {"about\r\nend\r\n", About},
        {"play 9,9\nplay 9,9\nturn 9,9\nzturn 189\nend\n",
         "ERROR Cell 9,9 is occupied\nERROR Cell 9,9 is occupied\nERROR Cell 9,9 is occupied\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(engineOutput(c.input), c.output) << c.input.substr(0, 60);
}

// Whatever these commands answer, they take exactly their arguments: the word
// behind them is read as the next command.
TEST(CommandLoop, CommandsConsumeExactlyTheirArguments) {
    const std::string cases[] = {
        "turn 10,10",  "TURN 10,10",        "Turn 10 , 10",  "turn\n10,10",  "zturn 189",
        "begin",       "best",              "problem 7",     "stats",         "moveback",
        "0move",       "play 3,3",          "info rule 1\n", "info time_left 600",
        "start 20",    "db import",         "db readd records", "db add about", "db export",
        "db create",   "board\n10,10,1\n11,11,2\nDONE\n", "board\r\nDONE\r\n",
        "restart",     "takeback 9,9",      "play 9,9\ntakeback 9,9", "info rule 4\n", "info time_left -50",
        "yxshowinfo",  "yxshowforbid",      "yxstop",        "yxboard\n9,9,1\ndone\n", "yxnbest 2",
        "rectstart 20,15\n", "swap2board\n7,7\n8,7\n9,9\ndone\n", "info show_detail 1\n",
        "info evaluate 9,9\n", "yxswap2step1", "yxsoosorvstep1", "yxsoosorvstep5 2\n10,10\n11,10\n10,12\n9,11\ndone\n",
        "yxbalanceone 0", "yxbalancetwo -20", "yxsearchdefend",
    };
    const std::string quickClock = "INFO timeout_turn 100\nINFO time_left 600\n";
    for (const auto& input : cases) {
        ScratchDirectory scratch;
        SessionDriver session;
        const std::string output = session.run(quickClock + input + " about\nabout\nend\n");
        EXPECT_EQ(output.find("ERROR Unknown Command!"), std::string::npos) << input << output;
        EXPECT_EQ(output.find("Protocol Mismatch"), std::string::npos) << input << output;
        size_t abouts = 0;
        for (size_t at = output.find(About); at != std::string::npos; at = output.find(About, at + 1))
            ++abouts;
        EXPECT_EQ(abouts, 2u) << input << output;
        EXPECT_TRUE(output.ends_with(About)) << input << output;
    }
}

// After a refused START there is no game: every word that would play, set
// or judge a position is read whole and gets one ERROR line, and nothing is
// placed, until START 20.
TEST(CommandLoop, AfterARefusedStartNoGameWordIsPlayed) {
    const std::string refusal = "ERROR A 20x20 board is needed: START 15 was refused, so there is no game until START 20\n";
    const std::string words[] = {
        "begin", "turn 9,9", "zturn 189", "best", "play 9,9", "restart", "takeback 9,9",
        "board\r\n9,9,1\r\n10,10,2\r\ndone", "yxboard\r\n9,9,1\r\ndone", "swap2board\r\n7,7\r\n8,7\r\n9,9\r\ndone",
        "yxnbest 2", "yxswap2step1", "yxswap2step2", "yxswap2step3", "yxsoosorvstep1",
        "yxsoosorvstep2\r\n10,10\r\n11,10\r\n10,12\r\ndone", "yxsoosorvstep4 3\r\n10,10\r\n11,10\r\n10,12\r\n9,11\r\ndone",
        "yxsoosorvstep6\r\n10,10\r\n11,10\r\n10,12\r\n9,11\r\n12,12\r\ndone", "yxbalanceone 0", "yxbalancetwo 0",
        "yxsearchdefend",
    };
    for (const std::string& word : words) {
        ScratchDirectory scratch;
        SessionDriver gui;
        gui.run("START 20\r\nplay 3,3\r\n");
        const std::string output = gui.run("START 15\r\n" + word + "\r\nabout\r\nend\r\n");
        EXPECT_EQ(output, "ERROR Unsupport size of board, supported size is 20!\n" + refusal + About) << word;
        EXPECT_EQ(gui.game.board.moveCount(), 1) << word;
        // START 20 gives a game again.
        const std::string again = gui.run("START 20\r\nbegin\r\nend\r\n");
        EXPECT_TRUE(std::regex_match(again, std::regex("OK\n(MESSAGE .*\n)*[0-9]+,[0-9]+\n"))) << again;
        EXPECT_EQ(gui.game.board.moveCount(), 1) << word;
    }
}

TEST(CommandLoop, ZturnAnswersLikeTurn) {
    struct Case { std::string zturn, turn; };
    const Case cases[] = {{"zturn 189\n", "turn 9,9\n"},
                          {"zturn 0\n", "turn 0,0\n"},
                          {"zturn 399\n", "turn 19,19\n"},
                          {"play 5,5\nzturn 105\n", "play 5,5\nturn 5,5\n"}};
    for (const auto& c : cases) {
        SessionDriver byIndex, byPoint;
        EXPECT_EQ(byIndex.run(c.zturn + "end\n"), byPoint.run(c.turn + "end\n")) << c.zturn;
        EXPECT_EQ(byIndex.game.moveRecordCount, byPoint.game.moveRecordCount) << c.zturn;
        for (int cell = 0; cell < CellCount; ++cell)
            ASSERT_EQ(byIndex.game.board.cellByte(cell), byPoint.game.board.cellByte(cell)) << c.zturn;
    }
}

TEST(CommandLoop, EveryWayOut) {
    struct Case { std::string input; LoopExit exit; };
    const Case cases[] = {
        {"end\nabout\n", LoopExit::EndCommand},
        {"about\n", LoopExit::EndOfInput},
        {"turn 20,0\n", LoopExit::ProtocolMismatch},
        {"INFO max_memory -5\n", LoopExit::ProtocolMismatch},
        {"START  20\n", LoopExit::ProtocolMismatch},
    };
    for (const auto& c : cases) {
        SessionDriver session;
        session.run(c.input);
        EXPECT_EQ(session.lastExit, c.exit) << c.input;
    }
}

TEST(CommandLoop, InfoKeysSetTheSession) {
    struct Case { std::string input; int32_t timeLeft, timeoutTurn, memoryBudget; };
    const Case cases[] = {
        {"", 120000, 10000, 83886080},
        {"INFO timeout_turn 5000\n", 120000, 5000, 83886080},
        {"info TIME_LEFT 30000\n", 30000, 10000, 83886080},
        {"INFO max_memory 0\n", 120000, 10000, 2097152},
        {"INFO max_memory 10000000\n", 120000, 10000, 7902848},
        {"INFO max_memory 3000000\n", 120000, 10000, 2097152},
        {"INFO max_memory 100000000\n", 120000, 10000, 97902848},
        {"INFO time_left 4294967296\n", 2147483647, 10000, 83886080},
        {"INFO max_memory 2147483648\n", 120000, 10000, 2147483647 - 2097152},
        {"INFO timeout_turn 0\nINFO rule 2 timeout_turn 7\n", 120000, 0, 83886080},
        {"INFO time_left -50\n", 0, 10000, 83886080},
    };
    for (const auto& c : cases) {
        SessionDriver session;
        const GameSession& game = session.game;
        EXPECT_EQ(session.run(c.input + "end\n"), "") << c.input;
        EXPECT_EQ(game.timeLeft, c.timeLeft) << c.input;
        EXPECT_EQ(game.timeoutTurn, c.timeoutTurn) << c.input;
        EXPECT_EQ(game.memoryBudget, c.memoryBudget) << c.input;
    }
}

// What Piskvork, the Gomocup judge, c-gomoku-cli and the GUI boards send
// beyond the basic commands, each answered on exactly the lines shown.
TEST(CommandLoop, ManagerCommands) {
    struct Case { std::string input; std::string output; };
    const std::string notLast = "ERROR Cannot take back 10,9: it is not the last stone of the game\n";
    const Case cases[] = {
        // A new game as START 20 begins one: the old stones are gone.
        {"play 9,9\nplay 10,10\nRESTART\nturn 9,9\nend\n", "OK\n10,9\n"},
        {"RESTART\r\nRESTART\r\nend\r\n", "OK\nOK\n"},
        {"play 9,9\nplay 10,9\nTAKEBACK 10,9\nTAKEBACK 10,9\nTAKEBACK 9,9\nplay 10,9\nend\n",
         "OK\n" + notLast + "OK\n"},
        {"TAKEBACK 10,9\nend\n", notLast},
        {"TAKEBACK 20,9\nabout\n", Mismatch},
        // An overrun of the match clock: the reply comes at once, from the analysis.
        {"INFO time_left -50\nplay 9,9\nplay 10,9\nplay 9,10\nbest\nend\n", "MESSAGE 0|0|0\n9,11\n"},
        {"INFO rule 0\nINFO rule 2\nINFO RULE\nend\n", ""},
        {"INFO rule 4\nINFO rule 9\nINFO rule 12 x\nend\n", ruleMessage(4) + ruleMessage(9) + ruleMessage(12)},
        // A non-square board: one line for the word and its argument.
        {"RECTSTART 20,15\r\nend\r\n", "ERROR Only the 20x20 board is played: RECTSTART is not supported\n"},
        // For debug builds only: a release brain writes nothing.
        {"INFO evaluate 9,9\r\nend\r\n", ""},
        // Yixin-Board: no forbidden points in freestyle; a stop while idle and
        // a position set without a search are not answered.
        {"yxshowforbid\r\nyxstop\r\nend\r\n", "FORBID .\n"},
        {"yxboard\r\n9,9,1\r\n10,10,2\r\ndone\r\nplay 9,9\r\nend\r\n", "ERROR Cell 9,9 is occupied\n"},
        {"INFO show_detail 3\r\nINFO show_detail x\r\nend\r\n", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(engineOutput(c.input), c.output) << c.input;
}

// Managers show these fields; each must be there as key="value".
TEST(CommandLoop, AboutLineHasTheManagersFields) {
    std::map<std::string, std::string> fields;
    const std::regex pair(R"re(\s*([a-z]+)="([^"]*)"\s*(,|$))re");
    const std::string line(AboutLine);
    for (std::sregex_iterator it(line.begin(), line.end(), pair), end; it != end; ++it)
        fields[(*it)[1]] = (*it)[2];
    for (const char* key : {"name", "version", "author", "country"}) EXPECT_FALSE(fields[key].empty()) << key;
    EXPECT_TRUE(!fields["www"].empty() || !fields["email"].empty()) << line;
    EXPECT_EQ(fields["name"], "pbrain-tarvo");
}

TEST(CommandLoop, PlayRecordsAndRefusesOccupiedCells) {
    SessionDriver session;
    const GameSession& game = session.game;
    EXPECT_EQ(session.run("play 9,9\nplay 10,9\nplay 9,9\nend\n"), "ERROR Cell 9,9 is occupied\n");
    EXPECT_EQ(game.moveRecordCount, 2);
    EXPECT_EQ(game.moveRecord[0], 189);
    EXPECT_EQ(game.moveRecord[1], 190);
    EXPECT_EQ(game.board.cellByte(189), StoneX);
    EXPECT_EQ(game.board.cellByte(190), StoneO);
    EXPECT_EQ(game.board.moveCount(), 2);
    EXPECT_EQ(game.board.sideToMove(), 1);
}

TEST(CommandLoop, PassFlipsTheSideWithoutTouchingTheKey) {
    SessionDriver session;
    const GameSession& game = session.game;
    session.run("play 9,9\n");
    const PositionKey key = game.board.positionKey();
    session.run("0move\n0move\n0move\nend\n");
    EXPECT_EQ(game.board.sideToMove(), 1);
    EXPECT_EQ(game.board.positionKey(), key);
    EXPECT_EQ(game.moveRecordCount, 1);
}

TEST(CommandLoop, BoardInputCutShortEndsTheRun) {
    SessionDriver session;
    EXPECT_EQ(session.run("board\n1,1,1\n2,2,2"), "");
    EXPECT_EQ(session.lastExit, LoopExit::EndOfInput);
}

TEST(CommandLoop, MoveRecordStopsAtFourHundredMoves) {
    SessionDriver session;
    const GameSession& game = session.game;
    std::string input;
    for (int i = 0; i < 450; ++i) input += "play 0,0\nin .\n";
    session.run(input + "play 5,5\nend\n");
    EXPECT_EQ(game.moveRecordCount, 400);
    EXPECT_EQ(game.moveRecord[399], 0);
    EXPECT_EQ(game.board.cellByte(cellAt(5, 5)), StoneX);
}

}  // namespace
