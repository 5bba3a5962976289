#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "board/board.h"
#include "board/board_image.h"
#include "knowledge/database_commands.h"
#include "knowledge/game_records.h"
#include "knowledge_test_support.h"
#include "platform/data_directory.h"

using namespace knowledge_test;

namespace {

const std::string PsqHeader = "Piskvorky 20x20, 11:11, 0\n";
const std::string RecHeader = "20\nplayer1 player2\n";

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

std::vector<int> keysOf(const std::vector<int>& cells) {
    SymmetryFrame frame;
    std::vector<int> keys;
    for (const int c : cells) keys.push_back(normalise(frame, c));
    return keys;
}

// The tree that the stored lines must give: a trie of keys whose inner nodes
// hold each player's choice (second player: the least (class, toEnd), first
// player: the greatest) and the sums of the counts at the line ends.
struct ExpectedNode {
    std::map<int, ExpectedNode> children;
    int outcome = -1;  // the class of the first line through it
    NodeStats stats;
};

void addLine(ExpectedNode& root, const std::vector<int>& keys, int outcome) {
    ExpectedNode* node = &root;
    for (const int k : keys) {
        node = &node->children[k];
        if (node->outcome < 0) node->outcome = outcome;
    }
}

void evaluate(ExpectedNode& node, int ply) {
    if (node.children.empty()) {
        node.stats.outcome = node.outcome;
        node.stats.toEnd = 0;
        node.stats.secondWinsWhole = node.outcome == 0;
        node.stats.secondWinsCut = node.outcome == 2;
        return;
    }
    bool first = true;
    for (auto& [key, child] : node.children) {
        evaluate(child, ply + 1);
        node.stats.secondWinsWhole += child.stats.secondWinsWhole;
        node.stats.secondWinsCut += child.stats.secondWinsCut;
        const auto candidate = std::make_pair(child.stats.outcome, child.stats.toEnd);
        const auto held = std::make_pair(node.stats.outcome, node.stats.toEnd - 1);
        const bool secondChooses = (ply + 1) % 2 == 1;
        if (first || (secondChooses ? candidate < held : candidate > held)) {
            node.stats.outcome = child.stats.outcome;
            node.stats.toEnd = child.stats.toEnd + 1;
        }
        first = false;
    }
}

void compare(const std::vector<NodeRecord>& records, int32_t offset, const ExpectedNode& node, int ply,
             int& visited) {
    const NodeRecord& r = records[offset / RecordSize];
    ++visited;
    EXPECT_EQ(r.stats.outcome, node.stats.outcome) << "move " << r.move;
    EXPECT_EQ(r.stats.toEnd, node.stats.toEnd) << "move " << r.move;
    EXPECT_EQ(r.stats.ply, wrapPly(ply)) << "move " << r.move;
    EXPECT_EQ(r.stats.secondWinsWhole, node.stats.secondWinsWhole) << "move " << r.move;
    EXPECT_EQ(r.stats.secondWinsCut, node.stats.secondWinsCut) << "move " << r.move;
    size_t children = 0;
    for (int32_t o = r.firstChild; o != -1; o = records[o / RecordSize].nextSibling) {
        const auto it = node.children.find(records[o / RecordSize].move);
        ASSERT_NE(it, node.children.end()) << "unexpected move " << records[o / RecordSize].move;
        compare(records, o, it->second, ply + 1, visited);
        ++children;
    }
    EXPECT_EQ(children, node.children.size()) << "below move " << r.move;
}

struct CommandsFixture : ::testing::Test {
    TempDir dir;
    ScopedCwd cwd{dir.path};
    ExperienceDatabase db;
    std::ostringstream out;

    void SetUp() override { createDatabase(db, platform::ExperienceFilePath); }
    std::vector<NodeRecord> records() { return decodeFile(platform::ExperienceFilePath); }
};

}  // namespace

TEST_F(CommandsFixture, CreateMakesTheDataDirectoryAndARootOnlyFile) {
    EXPECT_TRUE(db.isOpen());
    EXPECT_EQ(readBytes(platform::ExperienceFilePath).size(), 48u);
    EXPECT_EQ(records(), std::vector<NodeRecord>{freshRoot()});
    db.mergeLine({189, 190}, std::vector<NodeStats>(2));
    createDatabase(db, platform::ExperienceFilePath);  // replaces what was stored
    EXPECT_EQ(records(), std::vector<NodeRecord>{freshRoot()});
    db.rewind();
    EXPECT_FALSE(db.descend(189));
    std::filesystem::remove_all("tarvo");
    writeText("tarvo", "a file where the directory should be");
    EXPECT_THROW(createDatabase(db, platform::ExperienceFilePath), DatabaseError);
    EXPECT_FALSE(db.isOpen());
}

TEST_F(CommandsFixture, AddImportsADirectoryTreeAndBuildsItsTree) {
    // Lines that end at an inner node of another line are left to the
    // database tests: here every line ends at a leaf.
    std::vector<int> cutFirst = firstPlayerWin();
    cutFirst[1] = at(5, 15);
    cutFirst[3] = at(17, 4);  // near the edge: the line stops before it
    std::vector<int> cutSecond = secondPlayerWin();
    cutSecond[2] = at(12, 12);
    cutSecond[4] = at(2, 6);
    std::vector<int> branch = firstPlayerWin();
    branch[4] = at(8, 9);  // the three from the other end: same prefix, new branch
    std::vector<int> repeated = firstPlayerWin();
    repeated.insert(repeated.begin() + 2, repeated[1]);

    writeText("games/a.psq", recordText(PsqHeader, firstPlayerWin()));
    writeText("games/b.rec", recordText(RecHeader, secondPlayerWin()));
    writeText("games/notes.txt", recordText(PsqHeader, branch));
    writeText("games/sub/c.rec", recordText(RecHeader, cutFirst));
    writeText("games/sub/d.psq", recordText(PsqHeader, cutSecond));
    writeText("games/sub/again.psq", recordText(PsqHeader, firstPlayerWin()));
    writeText("games/sub/deeper/e.rec", recordText(RecHeader, repeated));
    writeText("games/sub/deeper/f.psq", recordText(PsqHeader, branch));
    // Read with the .rec reader: the whole path decides, and a .psq reader
    // would refuse the first line.
    writeText("games/y.rec/x.psq", recordText(RecHeader, branch));
    addGames(db, "games", out);

    const std::string ok = " byla uspesne pridana do baze znalosti.";
    const std::string bad = " neni vyhovujici pro pridani do databaze.";
    const std::set<std::string> expectedDebug = {
        "DEBUG Partie games/a.psq" + ok,         "DEBUG Partie games/b.rec" + ok,
        "DEBUG Partie games/sub/c.rec" + ok,     "DEBUG Partie games/sub/d.psq" + ok,
        "DEBUG Partie games/sub/again.psq" + ok, "DEBUG Partie games/sub/deeper/e.rec" + bad,
        "DEBUG Partie games/sub/deeper/f.psq" + ok, "DEBUG Partie games/y.rec/x.psq" + ok,
    };
    std::set<std::string> debug;
    std::multiset<std::string> messages;
    for (const std::string& line : lines(out.str())) {
        if (line.starts_with("DEBUG "))
            EXPECT_TRUE(debug.insert(line).second) << line;
        else
            messages.insert(line);
    }
    EXPECT_EQ(debug, expectedDebug);
    EXPECT_EQ(messages, (std::multiset<std::string>{"MESSAGE Saved to DB. (0)", "MESSAGE Saved to DB. (0)",
                                                    "MESSAGE Saved to DB. (0)", "MESSAGE Saved to DB. (0)",
                                                    "MESSAGE Saved to DB. (3)",
                                                    "MESSAGE Saved to DB. (1) Cut before move 4 (17,4): near the edge",
                                                    "MESSAGE Saved to DB. (2) Cut before move 5 (2,6): near the edge"}));

    ExpectedNode root;
    addLine(root, keysOf(firstPlayerWin()), 3);
    addLine(root, keysOf(secondPlayerWin()), 0);
    addLine(root, keysOf({cutFirst.begin(), cutFirst.begin() + 3}), 1);
    addLine(root, keysOf({cutSecond.begin(), cutSecond.begin() + 4}), 2);
    addLine(root, keysOf(branch), 3);
    evaluate(root, -1);

    const std::vector<NodeRecord> rs = records();
    ASSERT_TRUE(treeIsSound(rs));
    int visited = 0;
    compare(rs, 0, root, -1, visited);
    EXPECT_EQ(visited, int(rs.size()));  // nothing stored twice, nothing unlinked
    EXPECT_EQ(rs[0].stats.ply, 511);
}

TEST_F(CommandsFixture, AddReportsWhatItCannotUse) {
    struct Case {
        const char* path;
        const char* content;  // nullptr: no such file
        bool reported;
    };
    const std::string longName =
        "games/" + std::string(200, 'n') + "/" + std::string(200, 'o') + "/" + std::string(150, 'm') + ".psq";
    const Case cases[] = {
        {"missing.rec", nullptr, true},
        {"missing.txt", nullptr, false},
        {"empty.psq", "", true},
        {"four.psq", "Piskvorky 20x20\n9,9,1\n10,9,2\n11,9,3\n12,9,4\n", true},
        {"plain.dat", "9,9,1\n", false},
    };
    for (const Case& c : cases) {
        out.str("");
        if (c.content) writeText(c.path, c.content);
        addGames(db, c.path, out);
        const std::string expected =
            c.reported ? "DEBUG Partie " + std::string(c.path) + " neni vyhovujici pro pridani do databaze.\n" : "";
        const std::string text = out.str();
        EXPECT_TRUE(text.ends_with(expected)) << c.path << ": " << text;
        if (!c.reported) {
            EXPECT_EQ(text, "") << c.path;
        }
    }
    std::filesystem::create_directories(std::filesystem::path(longName).parent_path());
    writeText(longName, recordText(PsqHeader, firstPlayerWin()));
    out.str("");
    addGames(db, "games", out);
    EXPECT_EQ(out.str(), "MESSAGE Saved to DB. (0)\nDEBUG Partie " + longName + " byla uspesne pridana do baze znalosti.\n");

    // A link back up the tree is not followed round for ever.
    std::filesystem::create_directory_symlink("..", "games/" + std::string(200, 'n') + "/up");
    out.str("");
    addGames(db, "games", out);
    EXPECT_EQ(lines(out.str()).size(), 2u);

    ExperienceDatabase closed;
    out.str("");
    addGames(closed, longName, out);
    EXPECT_EQ(out.str(), "MESSAGE Saving to DB failed. No experience file is open\nDEBUG Partie " + longName +
                             " neni vyhovujici pro pridani do databaze.\n");
}

TEST_F(CommandsFixture, ExportWritesEveryPositionOfALineByItsDistanceToTheEnd) {
    std::filesystem::create_directories("tarvo/nodes");
    exportPositions(db);
    EXPECT_TRUE(std::filesystem::is_empty("tarvo/nodes"));

    const std::vector<int> game = firstPlayerWin();
    std::vector<int32_t> moves(game.begin(), game.end());
    ASSERT_EQ(judgeGame(moves), FirstPlayerWins);
    ASSERT_TRUE(saveGame(db, moves, FirstPlayerWins, out));
    ASSERT_EQ(moves.size(), 6u);
    db.rewind();
    ASSERT_TRUE(db.descend(189));
    db.frame.movesSeen = 1;
    exportPositions(db);
    EXPECT_EQ(db.currentOffset, 0);
    EXPECT_EQ(db.frame.movesSeen, 1);

    std::set<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator("tarvo/nodes"))
        files.insert(entry.path().filename().string());
    EXPECT_EQ(files, (std::set<std::string>{"node001.bin", "node002.bin", "node003.bin", "node004.bin", "node005.bin"}));
    for (int m = 1; m <= 5; ++m) {
        const std::string name = "tarvo/nodes/node00" + std::to_string(6 - m) + ".bin";
        std::FILE* file = std::fopen(name.c_str(), "rb");
        ASSERT_NE(file, nullptr);
        Board board;
        ASSERT_TRUE(readBoardImage(board, file));
        EXPECT_EQ(board.moveCount(), m);
        EXPECT_EQ(board.lastMove(), moves[m - 1]);
        EXPECT_EQ(board.sideToMove(), m % 2 == 1 ? 0 : 1);
        for (int k = 0; k < m; ++k) EXPECT_FALSE(board.isEmpty(moves[k]));
        EXPECT_EQ(std::fgetc(file), EOF);  // one image per file
        std::fclose(file);
    }

    // A second line branching at the third move: the shared positions are
    // written once per line end, and the export appends.
    std::vector<int32_t> other = {189, moves[1], moves[2], 230, 231};
    std::vector<NodeStats> stats(5, statsTemplates[0]);
    for (int i = 0; i < 5; ++i) stats[i].ply = i;
    db.mergeLine(other, stats);
    for (const auto& entry : std::filesystem::directory_iterator("tarvo/nodes"))
        std::filesystem::remove(entry.path());
    exportPositions(db);
    size_t images = 0;
    for (const auto& entry : std::filesystem::directory_iterator("tarvo/nodes")) {
        std::FILE* file = std::fopen(entry.path().c_str(), "rb");
        Board board;
        while (readBoardImage(board, file)) ++images;
        std::fclose(file);
    }
    EXPECT_EQ(images, 5u + 4u);
}

TEST_F(CommandsFixture, ExportOfADamagedFileEndsWithAnError) {
    std::filesystem::create_directories("tarvo/nodes");
    struct Case {
        const char* name;
        std::vector<NodeRecord> records;
    };
    NodeRecord root = freshRoot();
    root.firstChild = 48;
    const std::vector<Case> cases = {
        {"a move off the board", {root, makeRecord(189, -1, 96, 0), makeRecord(400, -1, -1, 48)}},
        {"a move on an occupied cell", {root, makeRecord(189, -1, 96, 0), makeRecord(189, -1, -1, 48)}},
        {"a child below its own parent's offset", {root, makeRecord(189, -1, 0, 0)}},
        {"a sibling cycle", {root, makeRecord(189, 96, -1, 0), makeRecord(190, 48, -1, 0)}},
    };
    for (const Case& c : cases) {
        writeRecords(platform::ExperienceFilePath, c.records);
        ASSERT_TRUE(db.open(platform::ExperienceFilePath));
        EXPECT_THROW(exportPositions(db), DatabaseError) << c.name;
    }
}
