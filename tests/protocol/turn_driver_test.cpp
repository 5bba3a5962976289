#include "protocol/turn_driver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <vector>

#include "board/analysis.h"
#include "knowledge/experience_database.h"
#include "platform/clock.h"
#include "platform/data_directory.h"
#include "protocol/command_loop.h"
#include "protocol/output.h"
#include "protocol/scratch_directory.h"
#include "search/turn_search.h"

namespace {

struct Session {
    std::ostringstream out;
    GameSession game{out};

    Session() {
        game.timeoutTurn = 250;  // short searches keep the suite quick
        game.followsExperienceDatabase = false;
    }
    void play(const std::vector<int>& cells) {
        for (int cell : cells) game.playMove(cell);
    }
    std::string take() {
        std::string text = out.str();
        out.str("");
        return text;
    }
    std::string run(const std::string& input) {
        std::istringstream in(input);
        CommandLoop loop(game, in);
        loop.run();
        return take();
    }
};

TEST(TurnDriverTest, BudgetIsTheTurnLimitOrASixthOfTheTimeLeft) {
    const struct {
        int32_t timeLeft, timeoutTurn, budget;
    } cases[] = {{120000, 10000, 10000}, {30000, 10000, 5000}, {1000, 10000, 166},
                 {1000, 100, 100},       {5, 10000, 0},        {2147483647, 300, 300}};
    for (const auto& c : cases) {
        Session s;
        s.game.timeLeft = c.timeLeft;
        s.game.timeoutTurn = c.timeoutTurn;
        EXPECT_EQ(turnBudget(s.game), c.budget) << c.timeLeft << " " << c.timeoutTurn;
    }
}

TEST(TurnDriverTest, DeadlineHoldsBackTheReserve) {
    for (int32_t timeLeft : {120000, 1000}) {
        Session s;
        s.game.timeoutTurn = 10000;
        s.game.timeLeft = timeLeft;
        s.play({189, 0, 190, 40, 191, 80, 192});  // o must block at once
        const int32_t before = platform::clockMs();
        chooseMove(s.game);
        const int32_t offset = platform::clockDiff(s.game.search.moveDeadline, before);
        const int32_t expected = turnBudget(s.game) - ReplyReserveMs;  // 9800, then -34
        EXPECT_GE(offset, expected);
        EXPECT_LE(offset, expected + 50);
        // A turn's time runs from when its command was read, not from the search.
        chooseMove(s.game, platform::clockAdd(before, -1000));
        EXPECT_EQ(platform::clockDiff(s.game.search.moveDeadline, before), expected - 1000);
    }
}

struct ReplyCase {
    const char* name;
    std::vector<int> moves;
    int expected;         // -1: any cell
    bool fastReplyLine;   // "MESSAGE fast reply"
    bool searchLine;      // "MESSAGE v|s|n"
};

TEST(TurnDriverTest, FastRepliesForcedMovesAndSearchWriteTheirLines) {
    const ReplyCase cases[] = {
        // x: 189..192 (five at 188/193), o: 0, 1, 2, 3 (five at 4), x to move
        {"own five before blocking", {189, 0, 190, 1, 191, 2, 192, 3}, -1, true, false},
        // o to move facing x's four closed at 188, o has nothing
        {"block the five", {189, 188, 190, 0, 191, 399, 192}, 193, true, false},
        // x has an open three and is to move: the open four is played at once
        {"own open four", {189, 0, 190, 19, 191, 380}, -1, true, false},
        // x could make an open four but o threatens five at 4: the block comes first
        {"block before own open four", {189, 0, 190, 1, 191, 2, 399, 3}, 4, true, false},
        // one stone: the opening reply is the analysis' single move and writes nothing
        {"single forced move", {189}, 190, false, false},
        {"quiet position searches", {189, 190, 169, 168, 209, 149}, -1, false, true},
    };
    const std::regex searchLine("MESSAGE -?[0-9]+\\|-?[0-9]+\\|[0-9]+\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        s.play(c.moves);
        const int cell = chooseMove(s.game);
        const std::string text = s.take();
        ASSERT_TRUE(cell >= 0 && cell < CellCount);
        EXPECT_TRUE(s.game.board.isEmpty(cell));
        if (c.expected >= 0) {
            EXPECT_EQ(cell, c.expected);
        }
        EXPECT_EQ(text == "MESSAGE fast reply\n", c.fastReplyLine) << text;
        EXPECT_EQ(std::regex_match(text, searchLine), c.searchLine) << text;
        if (!c.fastReplyLine && !c.searchLine) {
            EXPECT_EQ(text, "");
        }
        EXPECT_EQ(s.game.board.moveCount(), static_cast<int>(c.moves.size()));  // nothing played
    }
    // With both fives open, the engine completes its own.
    Session s;
    s.play({189, 0, 190, 1, 191, 2, 192, 3});
    const int own = chooseMove(s.game);
    EXPECT_TRUE(own == 188 || own == 193) << own;
}

TEST(TurnDriverTest, OpponentOpeningGivesItTheOStoneAndTheEngineX) {
    Session s;
    EXPECT_EQ(s.run("turn 10,10\nend\n"), "9,10\n");
    EXPECT_EQ(s.game.board.cellByte(cellAt(10, 10)), StoneO);
    EXPECT_EQ(s.game.board.cellByte(cellAt(9, 10)), StoneX);
    EXPECT_EQ(s.game.moveRecordCount, 2);
    EXPECT_EQ(s.game.board.sideToMove(), 0);
}

TEST(TurnDriverTest, StartBeginsANewGameAfterAGame) {
    Session s;
    s.run("begin\nturn 0,0\nturn 1,0\nturn 2,0\nend\n");
    ASSERT_EQ(s.game.board.moveCount(), 7);
    EXPECT_EQ(s.run("info timeout_turn 250\nstart 20\nend\n"), "OK\n");
    EXPECT_EQ(s.game.board.moveCount(), 0);
    EXPECT_EQ(s.game.moveRecordCount, 0);
    EXPECT_EQ(s.game.board.threats(1).size() + s.game.board.threats(0).size(), 0);
    EXPECT_EQ(s.game.board.xScore(), 0);
    EXPECT_EQ(s.game.board.oScore(), 0);
    EXPECT_EQ(s.game.board.savedScore(), 0);
    EXPECT_EQ(s.game.timeoutTurn, 250);
    for (int cell = 0; cell < CellCount; ++cell) ASSERT_EQ(s.game.board.cellByte(cell), 0);
    // The next game's opening turn is an 'o' stone again and the engine answers as 'x'.
    EXPECT_EQ(s.run("turn 3,3\nend\n"), "4,3\n");
    EXPECT_EQ(s.game.board.cellByte(cellAt(3, 3)), StoneO);
    EXPECT_EQ(s.game.board.cellByte(cellAt(4, 3)), StoneX);
    // A size the engine does not play leaves the game alone.
    s.run("start 15\nend\n");
    EXPECT_EQ(s.game.board.moveCount(), 2);
}

TEST(TurnDriverTest, BoardReplaysItsLinesAsANewGame) {
    Session s;
    s.run("begin\nturn 0,0\nend\n");
    const std::string text = s.run("board\n10,10,1\n11,11,2\nbad line\n10,10,2\n12,12,3\n20,1,1\n\nDONE\nend\n");
    std::istringstream lines(text);
    std::vector<std::string> replies;
    for (std::string line; std::getline(lines, line);) replies.push_back(line);
    ASSERT_EQ(replies.size(), 5u) << text;  // three errors, the search line, the move
    EXPECT_EQ(replies[0].rfind("ERROR Board line bad line skipped", 0), 0u);
    EXPECT_EQ(replies[1].rfind("ERROR Board line 10,10,2 skipped", 0), 0u);
    EXPECT_EQ(replies[2].rfind("ERROR Board line 20,1,1 skipped", 0), 0u);
    const std::vector<int> placed = {cellAt(10, 10), cellAt(11, 11), cellAt(12, 12)};
    ASSERT_EQ(s.game.moveRecordCount, 4);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(s.game.moveRecord[i], placed[i]);
    EXPECT_EQ(s.game.board.cellByte(placed[0]), StoneX);
    EXPECT_EQ(s.game.board.cellByte(placed[1]), StoneO);
    EXPECT_EQ(s.game.board.cellByte(placed[2]), StoneO);
    EXPECT_EQ(replies[3].rfind("MESSAGE ", 0), 0u);
    EXPECT_EQ(cellText(s.game.moveRecord[3]), replies[4]);
    EXPECT_EQ(s.game.board.moveCount(), 4);
    EXPECT_EQ(s.game.board.lastMove(), s.game.moveRecord[3]);
    EXPECT_EQ(s.game.board.stoneAt(s.game.moveRecord[3]), 1);
    EXPECT_EQ(s.game.board.sideToMove(), 0);
    // The old game's stone at 0,0 is gone.
    EXPECT_EQ(s.game.board.cellByte(0) & 0xC0, 0);
}

struct DatabaseSession : Session {
    ScratchDirectory scratch;
    DatabaseSession(int rootReplyKey) {
        experienceDatabase.createFile(platform::ExperienceFilePath);
        if (rootReplyKey >= 0) {
            experienceDatabase.rewind();
            experienceDatabase.findOrAppendChild(rootReplyKey, NodeStats{});
        }
        experienceDatabase.consultEnabled = true;
    }
    ~DatabaseSession() {
        experienceDatabase.consultEnabled = false;
        experienceDatabase.learnEnabled = false;
        try {
            experienceDatabase.close();
        } catch (...) {
        }
    }
};

TEST(TurnDriverTest, BeginTakesAStoredReplyOnlyInsideTheMiddleSquare) {
    {
        DatabaseSession s(cellAt(5, 19 - 6));  // the board cell 5,6
        EXPECT_EQ(s.run("begin\nend\n"), "MESSAGE Doporuceny: " + std::to_string(cellAt(5, 6)) + "\n5,6\n");
    }
    {
        DatabaseSession s(cellAt(1, 19 - 2));  // the board cell 1,2 (41) lies outside 3..16
        const std::string text = s.run("begin\nend\n");
        EXPECT_EQ(text.find("Doporuceny"), std::string::npos) << text;
        EXPECT_NE(text.find("9,9\n"), std::string::npos) << text;
    }
}

TEST(TurnDriverTest, PlayedMovesAreFollowedDownTheStoredLines) {
    DatabaseSession s(NormalisedFirstMove);  // every stored game starts on the normalised 189
    EXPECT_EQ(s.run("begin\nend\n").rfind("MESSAGE Doporuceny: 209\n9,10\n", 0), 0u);
    EXPECT_TRUE(s.game.followsExperienceDatabase);
    EXPECT_NE(experienceDatabase.currentOffset, 0);  // the cursor left the root
    s.run("turn 10,10\nend\n");  // a move the database has never seen
    EXPECT_FALSE(s.game.followsExperienceDatabase);
}

TEST(TurnDriverTest, AMoveWithoutAKeyEndsTheFollowing) {
    DatabaseSession s(NormalisedFirstMove);
    s.run("start 20\nplay 3,16\nend\n");
    ASSERT_TRUE(s.game.followsExperienceDatabase);
    // Offsets 13, 13 from the first move give the key 462, which no line can hold.
    EXPECT_EQ(s.run("play 16,3\nend\n"), "");
    EXPECT_FALSE(s.game.followsExperienceDatabase);
}

TEST(TurnDriverTest, BoardIsFollowedAndLearnedOnlyWhenItsLinesAlternate) {
    DatabaseSession s(NormalisedFirstMove);
    experienceDatabase.learnEnabled = true;
    s.run("board\n9,9,1\n10,10,2\nDONE\nend\n");
    EXPECT_NE(experienceDatabase.currentOffset, 0);  // 9,9 was found below the root

    // Two own stones in a row make no game: nothing is followed, even on later turns.
    s.run("board\n9,9,1\n5,5,1\n10,10,2\nDONE\nturn 12,12\nend\n");
    EXPECT_EQ(experienceDatabase.currentOffset, 0);
    EXPECT_FALSE(s.game.followsExperienceDatabase);

    // x completes five on a board given out of turn order: no game is stored.
    const std::string text = s.run("board\n5,5,1\n6,5,1\n7,5,1\n8,5,1\n5,10,2\n6,10,2\n7,10,2\nDONE\nend\n");
    EXPECT_EQ(text.find("DB"), std::string::npos) << text;
    EXPECT_EQ(std::filesystem::file_size(platform::ExperienceFilePath), 2u * RecordSize);
}

// o leaves x's open three open on its turn, which decides the game: it is
// stored once, after the engine's open four has been written.
TEST(TurnDriverTest, AGameDecidedDuringATurnIsStoredAfterTheReply) {
    DatabaseSession s(-1);
    experienceDatabase.learnEnabled = true;
    const std::string text = s.run("start 20\nplay 9,9\nplay 5,5\nplay 10,9\nplay 5,7\nplay 11,9\nturn 5,11\nend\n");
    const std::regex replyThenStore("^OK\nMESSAGE fast reply\n(8|12),9\nMESSAGE Saved to DB\\. \\(0\\)\n$");
    EXPECT_TRUE(std::regex_search(text, replyThenStore)) << text;
}

// A stone taken back takes the database cursor back with it, also onto a
// stored line that the taken-back move had left.
TEST(TurnDriverTest, TakebackStepsTheFollowingBack) {
    DatabaseSession s(NormalisedFirstMove);
    experienceDatabase.rewind();
    experienceDatabase.findOrAppendChild(NormalisedFirstMove, NodeStats{});
    const int32_t first = experienceDatabase.currentOffset;
    experienceDatabase.findOrAppendChild(NormalisedFirstMove + 1, NodeStats{});  // one step right of it
    const int32_t second = experienceDatabase.currentOffset;

    s.run("start 20\nplay 9,10\nplay 10,10\nplay 12,12\nend\n");
    ASSERT_FALSE(s.game.followsExperienceDatabase);
    EXPECT_EQ(s.run("takeback 12,12\nend\n"), "OK\n");
    EXPECT_TRUE(s.game.followsExperienceDatabase);
    EXPECT_EQ(experienceDatabase.currentOffset, second);
    EXPECT_EQ(s.run("takeback 10,10\nend\n"), "OK\n");
    EXPECT_EQ(experienceDatabase.currentOffset, first);
    // Played again, the move is followed from the right node with the right frame.
    s.run("play 10,10\nend\n");
    EXPECT_TRUE(s.game.followsExperienceDatabase);
    EXPECT_EQ(experienceDatabase.currentOffset, second);
}

// Stored: 9,10, then 10,10, then the reply 11,9 of a game the first player
// won. A game that leaves the line with 15,15 and, after 0,0, goes on with
// 10,10 meets, under the frame 15,15 set, the key of the stored 10,10 below the
// node it left, with the first player to move there as in the stored line.
TEST(TurnDriverTest, AGameOffTheStoredLinesIsNotFollowedUntilATakebackReturns) {
    DatabaseSession s(-1);
    std::vector<NodeStats> won(3);
    for (int i = 0; i < 3; ++i) {
        won[i].outcome = WholeFirstWins;
        won[i].ply = i;
    }
    experienceDatabase.mergeLine({NormalisedFirstMove, NormalisedFirstMove + 1, NormalisedFirstMove + 22}, won);

    s.run("start 20\nplay 9,10\nplay 15,15\nplay 0,0\nend\n");
    ASSERT_FALSE(s.game.followsExperienceDatabase);
    const std::string text = s.run("turn 10,10\nend\n");
    EXPECT_EQ(text.find("Doporuceny"), std::string::npos) << text;
    EXPECT_FALSE(s.game.followsExperienceDatabase);

    // Taken back to the stored line, the game is followed again.
    EXPECT_EQ(s.run("takeback " + cellText(s.game.moveRecord[4]) +
                    "\ntakeback 10,10\ntakeback 0,0\ntakeback 15,15\nend\n"),
              "OK\nOK\nOK\nOK\n");
    EXPECT_TRUE(s.game.followsExperienceDatabase);
    const std::string back = s.run("play 12,12\ntakeback 12,12\nturn 10,10\nend\n");
    EXPECT_NE(back.find("MESSAGE Doporuceny: " + std::to_string(cellAt(11, 9)) + "\n11,9\n"), std::string::npos)
        << back;
}

TEST(TurnDriverTest, DatabaseFailureIsReportedAndTheSearchDecides) {
    DatabaseSession s(cellAt(5, 13));
    experienceDatabase.close();  // every later access raises DatabaseError
    const std::string text = s.run("begin\nturn 10,10\nend\n");
    EXPECT_NE(text.find("MESSAGE Chyba databaze!\n"), std::string::npos) << text;
    EXPECT_EQ(s.game.board.moveCount(), 3);
    EXPECT_EQ(text.find("ERROR"), std::string::npos) << text;
}

}  // namespace

namespace {

// Stores the game of these board cells as a line of the given class.
void storeGame(const std::vector<int>& cells, int32_t outcome) {
    SymmetryFrame frame;
    std::vector<int32_t> keys;
    std::vector<NodeStats> stats(cells.size());
    for (size_t i = 0; i < cells.size(); ++i) {
        keys.push_back(normalise(frame, cells[i]));
        stats[i].outcome = outcome;
        stats[i].ply = int32_t(i);
    }
    experienceDatabase.mergeLine(keys, stats);
}

// x opened at 9,9 and went on at 11,11; the engine (o) answered 10,9 and then,
// searched, 10,10.
const std::vector<int> Opening = {cellAt(9, 9), cellAt(10, 9), cellAt(11, 11)};
const int SearchedReply = cellAt(10, 10);

}  // namespace

// A reply whose stored game the engine lost is not played again while the
// search offers another, at the tournament depth and with a deeper level; a
// stored reply that won is replayed as before.
TEST(TurnDriverTest, AReplyThatLostIsNotPlayedAgain) {
    for (const std::string level : {"", "info max_depth 9\n"}) {
        DatabaseSession s(-1);
        s.game.timeoutTurn = 10000;  // a whole search, which finds the same move every time
        const std::string game = "start 20\n" + level + "turn 9,9\nturn 11,11\nend\n";
        const std::string plain = s.run(game);
        const int searched = s.game.board.lastMove();  // without a stored line
        if (level.empty()) {
            ASSERT_EQ(searched, SearchedReply) << plain;
        }

        std::vector<int> lost = Opening;
        lost.push_back(searched);
        storeGame(lost, WholeFirstWins);
        const std::string avoided = s.run(game);
        EXPECT_NE(avoided.find("MESSAGE Lost line " + std::to_string(searched) + " avoided: "), std::string::npos)
            << level << avoided;
        EXPECT_NE(s.game.board.lastMove(), searched) << level;

        std::vector<int> won = Opening;
        won.push_back(cellAt(12, 12));
        storeGame(won, WholeSecondWins);
        const std::string replayed = s.run(game);
        const std::string stored = "MESSAGE Doporuceny: " + std::to_string(cellAt(12, 12)) + "\n12,12\n";
        EXPECT_EQ(replayed.substr(replayed.size() - stored.size()), stored) << level << replayed;
    }
}

// A reply lost by its class that still holds a game the engine won below it
// is played again: its loss is avoided one move on, where the opponent
// answered as in the lost game.
TEST(TurnDriverTest, ALossIsAvoidedWhereTheOpponentAnsweredAsInIt) {
    DatabaseSession s(-1);
    s.game.timeoutTurn = 10000;
    const std::string game = "start 20\nturn 9,9\nturn 11,11\nend\n";
    s.run(game);
    ASSERT_EQ(s.game.board.lastMove(), SearchedReply);
    s.run("turn 8,8\nend\n");
    const int reply = s.game.board.lastMove();  // the search's answer to 8,8

    std::vector<int> lost = Opening, won = Opening;
    lost.insert(lost.end(), {SearchedReply, cellAt(8, 8), reply});
    won.insert(won.end(), {SearchedReply, cellAt(12, 12), cellAt(13, 13)});
    storeGame(lost, WholeFirstWins);
    storeGame(won, WholeSecondWins);
    const std::string again = s.run(game);
    EXPECT_EQ(s.game.board.lastMove(), SearchedReply) << again;
    EXPECT_EQ(again.find("Lost line"), std::string::npos) << again;
    const std::string further = s.run("turn 8,8\nend\n");
    EXPECT_NE(further.find("MESSAGE Lost line " + std::to_string(reply) + " avoided: "), std::string::npos) << further;
    EXPECT_NE(s.game.board.lastMove(), reply);
}

// Every move the search would try lost: the one whose loss came latest is
// tried again.
TEST(TurnDriverTest, WhenEveryReplyLostTheLatestLossIsPlayed) {
    DatabaseSession s(-1);
    s.run("start 20\nturn 9,9\nturn 11,11\nend\n");
    s.game.board.takeBack();
    const std::vector<SearchReport> roots = searchRootMoves(s.game.search, s.game.board, TurnSearchDepth);
    ASSERT_GE(roots.size(), 3u);
    // Each root move's stored game goes on with moves far away, one more for
    // the middle one of the list than for any other.
    const size_t latest = roots.size() / 2;
    for (size_t k = 0; k < roots.size(); ++k) {
        std::vector<int> cells = Opening;
        cells.push_back(roots[k].best);
        for (int i = 0; i < (k == latest ? 3 : 2); ++i) cells.push_back(cellAt(4 + i, 15));
        storeGame(cells, WholeFirstWins);
    }
    const std::string text = s.run("start 20\nturn 9,9\nturn 11,11\nend\n");
    EXPECT_EQ(s.game.board.lastMove(), roots[latest].best) << text;
}

// The deciding move, the winning move after it and the same game sent again
// with BOARD offer one game: it is stored once.
TEST(TurnDriverTest, AFinishedGameIsStoredOnce) {
    DatabaseSession s(-1);
    experienceDatabase.learnEnabled = true;
    std::string text = s.run("start 20\nplay 9,9\nplay 5,5\nplay 10,9\nplay 5,7\nplay 11,9\nturn 5,11\nturn 5,13\nend\n");
    ASSERT_EQ(s.game.moveRecordCount, 9) << text;
    std::string board = "board\n";
    for (int i = 0; i < s.game.moveRecordCount; ++i)
        board += cellText(s.game.moveRecord[i]) + (i % 2 == 0 ? ",1\n" : ",2\n");
    text += s.run("restart\n" + board + "done\nend\n");
    size_t stored = 0;
    for (size_t at = text.find("Saved to DB."); at != std::string::npos; at = text.find("Saved to DB.", at + 1))
        ++stored;
    EXPECT_EQ(stored, 1u) << text;
}
