#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "protocol/command_loop.h"
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
const std::string NotBuilt = "ERROR Not implemented yet\n";
const std::string About = std::string(AboutLine) + "\n";

TEST(CommandLoop, RepliesOfWholeRuns) {
    struct Case { std::string input; std::string output; };
    const Case cases[] = {
        {"about\nend\n", About},
        {"ABOUT\nAbout\nend", About + About + Unknown},  // "end" never ended
        {"turn 10,10\nend\n", NotBuilt},
        {"TURN 10,10\nend\n", NotBuilt},
        {"Turn 10 , 10\nend\n", NotBuilt},
        {"turn\n10,10\nend\n", NotBuilt},
        {"turn 10,10 about\nend\n", NotBuilt + About},
        {"foo bar\nend\n", Unknown + Unknown},
        {"turns 1,1\nend\n", Unknown + Unknown},
        {"turn 20,0\nabout\n", Mismatch},
        {"turn -1,5\nabout\n", Mismatch},
        {"turn 10;10\nabout\n", Mismatch},
        {"play 10,x\nabout\n", Mismatch},
        {"zturn x\nabout\n", Mismatch},
        {"zturn 189\nend\n", NotBuilt},
        {"zturn 189 about\nend\n", NotBuilt + About},
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
        {"INFO rule 1\nabout\nend\n", About},
        {"INFO folder\nabout\nend\n", About},
        {"INFO timeout_turn 5000 about\nend\n", About},
        {"INFO\nend\n", Unknown},  // "end" is taken as the key
        {"db import\nend\n", ""},
        {"db readd records\nabout\nend\n", NotBuilt + About},
        {"db add about\nend\n", NotBuilt},
        {"db export\ndb create\nend\n", NotBuilt + NotBuilt},
        {"db " + std::string(1100, 'a') + " about\nend\n",
         "ERROR Word longer than 1023 characters ignored\n" + About},
        {"stats\nbegin\nbest\nend\n", NotBuilt + NotBuilt + NotBuilt},
        {"problem 7\nend\n", NotBuilt},
        {"problem x\nend\n", "ERROR Problem number expected\n" + Unknown},
        {"board\n10,10,1\n11,11,2\nDONE\nabout\nend\n", NotBuilt + About},
        {std::string(5000, 'x') + "\nabout\nend\n", Unknown + About},
        {"end\nabout\n", ""},
        {"about\n", About + Unknown},
        {"about", Unknown},
        {"", Unknown},
        {"about\r\nend\r\n", About},
        {"play 9,9\nplay 9,9\nturn 9,9\nzturn 189\nend\n",
         "ERROR Cell 9,9 is occupied\nERROR Cell 9,9 is occupied\nERROR Cell 9,9 is occupied\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(engineOutput(c.input), c.output) << c.input.substr(0, 60);
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
        {"INFO timeout_turn 0\nINFO rule 1 timeout_turn 7\n", 120000, 0, 83886080},
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

TEST(CommandLoop, PlayRecordsAndRefusesOccupiedCells) {
    SessionDriver session;
    const GameSession& game = session.game;
    EXPECT_EQ(session.run("play 9,9\nplay 10,9\nplay 9,9\nend\n"), "ERROR Cell 9,9 is occupied\n");
    EXPECT_EQ(game.moveRecordCount, 2);
    EXPECT_EQ(game.moveRecord[0], 189);
    EXPECT_EQ(game.moveRecord[1], 190);
    EXPECT_EQ(game.board.cells[189], StoneX);
    EXPECT_EQ(game.board.cells[190], StoneO);
    EXPECT_EQ(game.board.moveCount, 2);
    EXPECT_EQ(game.board.sideToMove, 1);
}

TEST(CommandLoop, PassFlipsTheSideWithoutTouchingTheKey) {
    SessionDriver session;
    const GameSession& game = session.game;
    session.run("play 9,9\n");
    const PositionKey key = game.board.positionKey;
    session.run("0move\n0move\n0move\nend\n");
    EXPECT_EQ(game.board.sideToMove, 1);
    EXPECT_EQ(game.board.positionKey, key);
    EXPECT_EQ(game.moveRecordCount, 1);
}

TEST(CommandLoop, BoardPlacesOwnAndOpponentStones) {
    SessionDriver session;
    GameSession& game = session.game;
    game.board.sideToMove = 0;
    game.followsKnowledgeBase = true;
    session.run("play 0,0\n");
    EXPECT_EQ(session.run("board\r\n10,10,1\r\n 11 , 11 , 2\r\n11,11,1\r\n20,3,1\r\n3,3\r\nDONE\r\nend\n"),
              NotBuilt);
    EXPECT_EQ(game.board.cells[0], 0);
    EXPECT_EQ(game.board.cells[cellAt(10, 10)], StoneX);
    EXPECT_EQ(game.board.cells[cellAt(11, 11)], StoneO);
    EXPECT_EQ(game.board.cells[cellAt(3, 3)], 0);
    EXPECT_EQ(game.board.moveCount, 2);
    EXPECT_EQ(game.board.sideToMove, 1);
    EXPECT_FALSE(game.followsKnowledgeBase);

    session.run("board\nDONE\nend\n");
    for (uint8_t cell : game.board.cells) ASSERT_EQ(cell, 0);
    EXPECT_EQ(game.board.moveCount, 0);
    EXPECT_EQ(game.board.xThreats.count + game.board.oThreats.count, 0);
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
    EXPECT_EQ(game.board.cells[cellAt(5, 5)], StoneX);
}

}  // namespace
