#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "board/board_fixture.h"
#include "knowledge/experience_database.h"
#include "platform/data_directory.h"
#include "protocol/command_loop.h"
#include "protocol/output.h"
#include "protocol/scratch_directory.h"
#include "protocol/session_driver.h"

namespace {

namespace fs = std::filesystem;

// Position files are read relative to the working directory.
class GameSessionFiles : public ::testing::Test {
protected:
    void SetUp() override {
        home = fs::current_path();
        char pattern[] = "/tmp/tarvo_session_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        fs::current_path(dir);
    }
    void TearDown() override {
        fs::current_path(home);
        fs::remove_all(dir);
    }
    static void writeFile(const std::string& name, const std::string& text) {
        std::ofstream(name) << text;
    }

    fs::path home, dir;
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

// 400 marks with the given stones, as 20 lines of 20.
std::string positionFile(const std::vector<std::pair<int, char>>& stones) {
    std::string marks(CellCount, '-');
    for (auto [cell, mark] : stones) marks[cell] = mark;
    std::string text;
    for (int y = 0; y < BoardSize; ++y) text += marks.substr(y * 20, 20) + "\n";
    return text;
}

const std::string Header = "DEBUG  01234567890123456789 01234567890123456789 01234567890123456789";

std::string pictureRow(int y, const std::string& p1, const std::string& p2, const std::string& p3) {
    const std::string d(1, static_cast<char>('0' + y % 10));
    return "DEBUG " + d + p1 + d + p2 + d + p3 + d;
}

TEST(GameSession, StartValues) {
    SessionDriver session;
    GameSession& game = session.game;
    EXPECT_EQ(game.board.sideToMove(), 1);
    EXPECT_EQ(game.board.moveCount(), 0);
    EXPECT_EQ(game.board.lastMove(), -1);
    EXPECT_EQ(game.moveRecordCount, 0);
    EXPECT_EQ(game.timeLeft, 120000);
    EXPECT_EQ(game.timeoutTurn, 10000);
    EXPECT_EQ(game.memoryBudget, 83886080);
}

TEST(GameSession, PictureOfAnEmptyBoard) {
    SessionDriver session;
    std::vector<std::string> expected = {"DEBUG x  Black = 0           White = 0         ",
                                         "DEBUG 0", Header};
    const std::string empty(20, '-');
    for (int y = 0; y < 20; ++y)
        expected.push_back(pictureRow(y, empty, empty, y == 9 ? "---------a----------" : empty));
    const std::string output = session.run("print\nend\n");
    EXPECT_EQ(lines(output), expected);
    EXPECT_EQ(output.back(), '\n');
}

TEST(GameSession, PictureAfterOneStone) {
    SessionDriver session;
    const auto picture = lines(session.run("play 9,9\nprint\nend\n"));
    ASSERT_EQ(picture.size(), 23u);
    EXPECT_EQ(picture[0], "DEBUG o  Black = 0           White = 0         ");
    EXPECT_EQ(picture[1], "DEBUG 0");
    const std::string empty(20, '-');
    EXPECT_EQ(picture[3 + 9], pictureRow(9, "---------X----------", "---------X----------",
                                         "---------Xa---------"));
    EXPECT_EQ(picture[3 + 8], pictureRow(8, empty, empty, empty));
}

const std::string OpenThreeMoves = "play 9,9\nplay 0,5\nplay 8,9\nplay 0,6\nplay 7,9\n";

TEST(GameSession, PictureOfAnOpenThree) {
    SessionDriver session;
    const auto picture = lines(session.run(OpenThreeMoves + "print\nend\n"));
    ASSERT_EQ(picture.size(), 23u);
    EXPECT_EQ(picture[0], "DEBUG o  Black = 1412        White = 460       ");
    EXPECT_EQ(picture[1], "DEBUG -200");
    const std::string row9 = picture[3 + 9];
    ASSERT_EQ(row9.size(), 6u + 64u);
    const std::string panel1 = row9.substr(7, 20), panel3 = row9.substr(49, 20);
    EXPECT_EQ(panel1.substr(6, 5), "bXXXb");
    EXPECT_EQ(panel3, "------bXXXa---------");
    EXPECT_EQ(row9.substr(28, 20).substr(6, 5), "-XXX-");
    EXPECT_EQ(picture[3 + 5].substr(28, 1), "@");
}

TEST(GameSession, InStepsThroughTheListAndTakesBack) {
    SessionDriver session;
    GameSession& game = session.game;
    session.run(OpenThreeMoves);
    const int before = game.board.xScore();

    auto picture = lines(session.run("in B\nend\n"));
    ASSERT_EQ(picture.size(), 23u);
    EXPECT_EQ(picture[3 + 9].substr(7, 10), "------@XXX");
    EXPECT_EQ(game.board.cellByte(cellAt(6, 9)), StoneO);
    EXPECT_EQ(game.board.sideToMove(), 1);
    EXPECT_EQ(game.moveRecordCount, 5);

    picture = lines(session.run("in .\nend\n"));
    ASSERT_EQ(picture.size(), 23u);
    EXPECT_EQ(game.board.cellByte(cellAt(6, 9)) & (StoneX | StoneO), 0);
    EXPECT_EQ(game.board.sideToMove(), 0);
    EXPECT_EQ(game.board.xScore(), before);
    EXPECT_EQ(game.moveRecordCount, 5);

    // Take-back may reorder equal classes, so "a" is either end of the three.
    session.run("in a\nend\n");
    EXPECT_EQ((game.board.cellByte(cellAt(10, 9)) | game.board.cellByte(cellAt(6, 9))) & 0xC0, StoneO);
    EXPECT_EQ(game.board.moveCount(), 6);
}

TEST(GameSession, InRefusesLettersBeyondTheList) {
    SessionDriver session;
    GameSession& game = session.game;
    session.run(OpenThreeMoves);
    EXPECT_EQ(session.run("in z\nin 5\nend\n"),
              "ERROR No listed move for the letter z\nERROR No listed move for the letter 5\n");
    EXPECT_EQ(game.board.moveCount(), 5);
    EXPECT_EQ(game.board.sideToMove(), 0);
}

TEST(GameSession, BoardInputPlacesOwnAndOpponentStones) {
    SessionDriver session;
    GameSession& game = session.game;
    session.run("play 0,0\n0move\n");
    struct Case { std::string lines; bool done; std::vector<std::pair<int, uint8_t>> stones; std::string left; };
    const Case cases[] = {
        {"\r\n10,10,1\r\n 11 , 11 , 2\r\n11,11,1\r\n20,3,1\r\n3,3\r\nDONE\r\nnext",
         true, {{cellAt(10, 10), StoneX}, {cellAt(11, 11), StoneO}}, "next"},
        {"\nDONE\nnext", true, {}, "next"},
        {"\n  done\n", true, {}, ""},
        {"\n1,1,1\n" + std::string(3000, '7') + "\nDONE\n", true, {{cellAt(1, 1), StoneX}}, ""},
        {"\n1,1,1\n2,2,2", false, {{cellAt(1, 1), StoneX}, {cellAt(2, 2), StoneO}}, ""},
    };
    for (const auto& c : cases) {
        std::istringstream stream(c.lines);
        ProtocolInput input(stream);
        EXPECT_EQ(game.readBoardInput(input), c.done) << c.lines;
        std::string left((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
        EXPECT_EQ(left, c.left) << c.lines;
        int stones = 0;
        for (int cell = 0; cell < CellCount; ++cell) stones += !game.board.isEmpty(cell);
        EXPECT_EQ(stones, static_cast<int>(c.stones.size())) << c.lines;
        EXPECT_EQ(game.board.moveCount(), stones) << c.lines;
        for (auto [cell, stone] : c.stones) EXPECT_EQ(game.board.cellByte(cell), stone) << c.lines;
        EXPECT_EQ(game.board.sideToMove(), 1) << c.lines;
        if (c.stones.empty()) {
            EXPECT_EQ(game.board.threats(1).size() + game.board.threats(0).size(), 0);
            EXPECT_EQ(game.board.xScore() + game.board.oScore(), 0);
        }
    }
}

// Piskvork's undo: after TAKEBACK of the last two stones the game is where it
// was two moves earlier, down to the totals, the key and the side to move.
TEST(GameSession, TakebackRestoresThePositionBeforeTheMoves) {
    const std::vector<int> moves = {189, 190, 169, 168, 149, 209, 109, 129, 150, 147};
    auto playAll = [&moves](size_t n) {
        std::string text;
        for (size_t i = 0; i < n; ++i) text += "play " + cellText(moves[i]) + "\n";
        return text;
    };
    for (size_t undo : {1u, 2u, 5u}) {
        SessionDriver undone, played;
        std::string takebacks, replies;
        for (size_t i = 0; i < undo; ++i) {
            takebacks += "takeback " + cellText(moves[moves.size() - 1 - i]) + "\n";
            replies += "OK\n";
        }
        EXPECT_EQ(undone.run(playAll(moves.size()) + takebacks + "end\n"), replies);
        played.run(playAll(moves.size() - undo));
        const Board& a = undone.game.board;
        const Board& b = played.game.board;
        for (int c = 0; c < CellCount; ++c) ASSERT_EQ(a.cellByte(c), b.cellByte(c)) << undo << " cell " << c;
        // The lists in their order too: the next search sees the same position.
        EXPECT_EQ(readingOrder(a.threats(1)), readingOrder(b.threats(1))) << undo;
        EXPECT_EQ(readingOrder(a.threats(0)), readingOrder(b.threats(0))) << undo;
        expectSameFields(a, b, ("takeback of " + std::to_string(undo)).c_str());
        ASSERT_EQ(undone.game.moveRecordCount, played.game.moveRecordCount) << undo;
    }
}

TEST_F(GameSessionFiles, ReadWritesTheStaticValue) {
    const int four[] = {cellAt(0, 0), cellAt(1, 0), cellAt(2, 0), cellAt(3, 0)};
    writeFile("empty.dat", std::string(400, '-'));
    writeFile("grid.dat", positionFile({{four[0], 'x'}, {four[1], 'x'}, {four[2], 'x'},
                                        {four[3], 'x'}, {cellAt(9, 9), 'o'}}));
    writeFile("short.dat", "x - o\n x");
    writeFile("other.dat", std::string(20, '.') + "1x" + std::string(378, '#'));

    struct Case { std::string name; std::string reply; int stones; };
    const Case cases[] = {
        {"empty.dat", "0", 0},
        {"grid.dat", "20000", 5},  // side 1 completes five at 4,0
        {"short.dat", "0", 3},
        {"other.dat", "0", 1},
    };
    for (const auto& c : cases) {
        SessionDriver session;
        GameSession& game = session.game;
        game.followsExperienceDatabase = true;
        EXPECT_EQ(session.run("read " + c.name + "\nend\n"), c.reply + "\n") << c.name;
        EXPECT_EQ(game.board.moveCount(), c.stones) << c.name;
        EXPECT_EQ(game.board.sideToMove(), 1) << c.name;
        EXPECT_EQ(game.board.lastMove(), -1) << c.name;
        EXPECT_FALSE(game.followsExperienceDatabase) << c.name;
    }
    SessionDriver session;
    GameSession& game = session.game;
    session.run("read short.dat\n");
    EXPECT_EQ(game.board.cellByte(0), StoneX);
    EXPECT_EQ(game.board.cellByte(2), StoneO);
    EXPECT_EQ(game.board.cellByte(3), StoneX);
    EXPECT_EQ(game.board.cellByte(4), 0);
}

TEST_F(GameSessionFiles, PlochaTakesTheSideFromTah) {
    const std::string position = positionFile({{cellAt(0, 0), 'x'}, {cellAt(5, 5), 'o'}});
    writeFile("plocha.dat", position);
    writeFile("copy.dat", position);
    struct Case { const char* tah; std::string name; int side; };
    const Case cases[] = {
        {"o", "plocha.dat", 0}, {" \n o\n", "plocha.dat", 0}, {"x", "plocha.dat", 1},
        {"", "plocha.dat", 1},  {nullptr, "plocha.dat", 1},   {"o", "copy.dat", 1},
    };
    for (const auto& c : cases) {
        fs::remove("tah.dat");
        if (c.tah) writeFile("tah.dat", c.tah);
        SessionDriver session;
        GameSession& game = session.game;
        session.run("read " + c.name + "\n");
        EXPECT_EQ(game.board.sideToMove(), c.side) << (c.tah ? c.tah : "(none)") << ' ' << c.name;
        EXPECT_EQ(game.board.moveCount(), 2);
    }
}

TEST_F(GameSessionFiles, ReadOfAMissingFileLeavesAnEmptyConsistentBoard) {
    SessionDriver session;
    GameSession& game = session.game;
    session.run(OpenThreeMoves);
    ASSERT_GT(game.board.xScore(), 0);
    EXPECT_EQ(session.run("read nofile.dat\nabout\nend\n"),
              "ERROR Cannot open the position file nofile.dat\n" + std::string(AboutLine) + "\n");
    for (int cell = 0; cell < CellCount; ++cell) ASSERT_EQ(game.board.cellByte(cell), 0);
    EXPECT_EQ(game.board.xScore(), 0);
    EXPECT_EQ(game.board.oScore(), 0);
    EXPECT_EQ(game.board.savedScore(), 0);
    EXPECT_EQ(game.board.threats(1).size() + game.board.threats(0).size(), 0);
    EXPECT_EQ(game.board.moveCount(), 0);
    EXPECT_EQ(game.moveRecordCount, 5);
    EXPECT_EQ(session.run("read .\nend\n"), "ERROR Cannot open the position file .\n");
    EXPECT_EQ(session.run("read " + std::string(1030, 'n') + "\nend\n"),
              "ERROR Word longer than 1023 characters ignored\n");
}

}  // namespace

namespace {

// The process-wide database and data folder as INFO folder leaves them, put back.
struct PermanentFolderSession {
    const bool consult = experienceDatabase.consultEnabled, learn = experienceDatabase.learnEnabled;
    ~PermanentFolderSession() {
        experienceDatabase.setSizeLimit(0);
        try {
            experienceDatabase.close();
        } catch (...) {
        }
        platform::useDataRoot("");
        experienceDatabase.consultEnabled = consult;
        experienceDatabase.learnEnabled = learn;
    }
};

// The cap of the Gomocup judge's folder, set small: the store that would pass
// it writes nothing, leaves no marker, says so once, and learning stops.
TEST_F(GameSessionFiles, AStorePastTheFoldersCapIsRefusedAndLearningStops) {
    const PermanentFolderSession restore;
    fs::create_directory("permanent");
    SessionDriver session;
    EXPECT_EQ(session.run("INFO folder permanent \r\nend\r\n"), "");
    ASSERT_TRUE(experienceDatabase.consultEnabled && experienceDatabase.learnEnabled);
    const std::string file = "permanent/pbrain-tarvo/tarvo/experience.bin";
    ASSERT_EQ(fs::file_size(file), 48u);
    experienceDatabase.setSizeLimit(48 * 4);
    // x builds an open three in row 9 while o plays far apart: decided by the sixth move.
    const std::string game = "play 9,9\nplay 4,15\nplay 10,9\nplay 15,4\nplay 11,9\nplay 4,4\nplay 0,19\n";
    const std::string output = session.run("RESTART\n" + game + "RESTART\n" + game + "end\n");
    EXPECT_EQ(lines(output), (std::vector<std::string>{
                                 "OK",
                                 "MESSAGE The experience file " + file +
                                     " would pass its cap of 192 bytes: the game is not stored, and nothing more "
                                     "is learned in this run",
                                 "OK"}));
    EXPECT_FALSE(experienceDatabase.learnEnabled);
    EXPECT_EQ(fs::file_size(file), 48u);
    EXPECT_FALSE(fs::exists(file + ".pending"));
}

// Piskvork may name a folder that is not there yet: it is made, with what the
// brain keeps in it; one that cannot be made is reported once, with the path
// as the system writes it, and the brain plays on without learning.
TEST_F(GameSessionFiles, InfoFolderIsMadeWhenMissing) {
    const struct {
        const char* name;
        const char* folder;
        const char* before;  // folders made first ("" none)
        bool blocked;        // a plain file where "blocker" would be
        const char* reply;
    } cases[] = {
        {"the folder exists", "permanent", "permanent", false, ""},
        {"the folder is missing", "permanent", "", false, ""},
        {"its parent is missing too", "absent/permanent", "", false, ""},
        {"a trailing separator", "permanent/", "", false, ""},
        {"a file stands in its way", "blocker/permanent",
         "", true, "MESSAGE No experience file could be kept in blocker/permanent/pbrain-tarvo; the games are not learned from\n"},
        {"the same, with a trailing separator", "blocker/permanent/", "", true,
         "MESSAGE No experience file could be kept in blocker/permanent/pbrain-tarvo; the games are not learned from\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PermanentFolderSession restore;
        fs::remove_all("permanent");
        fs::remove_all("absent");
        fs::remove_all("blocker");
        if (*c.before) fs::create_directories(c.before);
        if (c.blocked) writeFile("blocker", "not a folder\n");
        const bool consult = experienceDatabase.consultEnabled, learn = experienceDatabase.learnEnabled;
        SessionDriver session;
        EXPECT_EQ(session.run(std::string("INFO folder ") + c.folder + "\r\nend\r\n"), c.reply);
        const fs::path file = fs::path(c.folder) / "pbrain-tarvo/tarvo/experience.bin";
        if (c.blocked) {
            EXPECT_EQ(experienceDatabase.consultEnabled, consult);
            EXPECT_EQ(experienceDatabase.learnEnabled, learn);
            EXPECT_EQ(fileText("blocker"), "not a folder\n");
            continue;
        }
        EXPECT_TRUE(experienceDatabase.consultEnabled && experienceDatabase.learnEnabled);
        ASSERT_TRUE(fs::is_regular_file(file));
        EXPECT_EQ(fs::file_size(file), 48u);
    }
}

}  // namespace
