#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <functional>
#include <random>
#include <sstream>

#include "knowledge/experience_database.h"
#include "knowledge/game_records.h"
#include "knowledge/store_reports.h"
#include "knowledge_test_support.h"
#include "platform/data_directory.h"

using namespace knowledge_test;

namespace {

struct DatabaseFixture : ::testing::Test {
    TempDir dir;
    std::string path = dir.file("experience.bin");
    ExperienceDatabase db;

    void create() { db.createFile(path); }
    std::vector<NodeRecord> records() { return decodeFile(path); }
    void openRecords(const std::vector<NodeRecord>& rs) {
        writeRecords(path, rs);
        ASSERT_TRUE(db.open(path));
    }
};

NodeStats stats(int outcome, int proof = 1, int disproof = 1) {
    NodeStats s;
    s.outcome = outcome;
    s.proof = proof;
    s.disproof = disproof;
    return s;
}

std::vector<NodeStats> line(int outcome, size_t length) {
    std::vector<NodeStats> result(length, stats(outcome));
    for (size_t i = 0; i < length; ++i) result[i].ply = int(i);
    return result;
}

}  // namespace

TEST_F(DatabaseFixture, OpensOnlyAFileWithARoot) {
    EXPECT_FALSE(db.open(dir.file("missing.bin")));
    EXPECT_FALSE(db.isOpen());
    for (const size_t size : {size_t(0), size_t(10), size_t(47)}) {
        writeText(path, std::string(size, '\0'));
        EXPECT_FALSE(db.open(path)) << size;
        EXPECT_FALSE(db.isOpen());
    }
    create();
    EXPECT_EQ(readBytes(path).size(), 48u);
    ExperienceDatabase other;
    ASSERT_TRUE(other.open(path));
    EXPECT_EQ(other.currentOffset, 0);
    EXPECT_EQ(other.current, freshRoot());
}

TEST_F(DatabaseFixture, StartUpSetsBothSwitchesFromTheFileUnderTheWorkingDirectory) {
    ScopedCwd cwd(dir.path);
    struct Case {
        const char* content;  // nullptr: no file
        bool enabled;
    };
    const Case cases[] = {{nullptr, false}, {"short", false}, {"", false}};
    for (const Case& c : cases) {
        std::filesystem::remove_all("tarvo");
        if (c.content) writeText("tarvo/experience.bin", c.content);
        ExperienceDatabase startUp;
        startUp.openAtStartUp();
        EXPECT_EQ(startUp.consultEnabled, c.enabled);
        EXPECT_EQ(startUp.learnEnabled, c.enabled);
        EXPECT_EQ(startUp.isOpen(), c.enabled);
    }
    writeRecords("tarvo/experience.bin", {freshRoot()});
    {
        ExperienceDatabase startUp;
        startUp.openAtStartUp();
        EXPECT_TRUE(startUp.consultEnabled && startUp.learnEnabled && startUp.isOpen());
    }
}

TEST_F(DatabaseFixture, EveryOperationWithoutAFileIsRefused) {
    std::vector<int> moves;
    std::vector<NodeStats> list;
    int move = 0;
    std::ostringstream out;
    const std::vector<std::function<void()>> operations = {
        [&] { db.rewind(); },
        [&] { db.descend(189); },
        [&] { db.listChildren(moves, list); },
        [&] { db.currentStats(move); },
        [&] { db.recommend(true, move); },
        [&] { db.showCurrentNode(out); },
        [&] { db.findOrAppendChild(189, stats(3)); },
        [&] { db.mergeLine({189, 190}, line(3, 2)); },
        [&] { db.moveTo(0); },
    };
    for (size_t i = 0; i < operations.size(); ++i) EXPECT_THROW(operations[i](), DatabaseError) << i;
    EXPECT_EQ(out.str(), "");
}

TEST_F(DatabaseFixture, RootOnlyDatabaseHasNothingToOffer) {
    create();
    db.rewind();
    int move = -5;
    EXPECT_FALSE(db.recommend(true, move));
    EXPECT_FALSE(db.recommend(false, move));
    EXPECT_FALSE(db.descend(189));
    std::vector<int> moves = {1};
    std::vector<NodeStats> list(1);
    EXPECT_EQ(db.listChildren(moves, list), 0);
    EXPECT_TRUE(moves.empty() && list.empty());
    std::ostringstream out;
    db.showCurrentNode(out);
    EXPECT_EQ(out.str(), "");
}

TEST_F(DatabaseFixture, MergeLineBuildsAndRecomputesTheLine) {
    create();
    db.mergeLine({189, 190, 211}, line(1, 3));
    std::vector<NodeRecord> rs = records();
    ASSERT_EQ(rs.size(), 4u);
    EXPECT_TRUE(treeIsSound(rs));
    const int expectedMoves[] = {-1, 189, 190, 211};
    const int expectedPly[] = {511, 0, 1, 2};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(rs[i].move, expectedMoves[i]);
        EXPECT_EQ(rs[i].parent, i == 0 ? -1 : (i - 1) * 48);
        EXPECT_EQ(rs[i].firstChild, i == 3 ? -1 : (i + 1) * 48);
        EXPECT_EQ(rs[i].stats.ply, expectedPly[i]);
        EXPECT_EQ(rs[i].stats.toEnd, 3 - i);
        EXPECT_EQ(rs[i].stats.outcome, 1);
        EXPECT_EQ(rs[i].stats.secondWinsCut, 0);
    }
    EXPECT_EQ(rs[0].stats.proof, 1);  // the root keeps what it was created with

    // The same line again creates nothing and counts nothing twice; a line of
    // class 2 through the same nodes sets the cut count once.
    const std::string before = readBytes(path);
    db.mergeLine({189, 190, 211}, line(1, 3));
    EXPECT_EQ(readBytes(path), before);

    db.mergeLine({189, 190, 212, 230}, line(2, 4));
    rs = records();
    ASSERT_EQ(rs.size(), 6u);
    EXPECT_TRUE(treeIsSound(rs));
    EXPECT_EQ(rs[3].nextSibling, 4 * 48);  // a new child goes at the end of the chain
    EXPECT_EQ(rs[5].stats.secondWinsCut, 1);
    EXPECT_EQ(rs[5].stats.toEnd, 0);
    EXPECT_EQ(rs[4].stats.toEnd, 1);
    // At 190 (children at ply 2, first player's choice) class 2 beats class 1.
    EXPECT_EQ(rs[2].stats.outcome, 2);
    EXPECT_EQ(rs[2].stats.toEnd, 2);
    EXPECT_EQ(rs[2].stats.secondWinsCut, 1);
    EXPECT_EQ(rs[0].stats.outcome, 2);
    EXPECT_EQ(rs[0].stats.toEnd, 4);
    EXPECT_EQ(rs[0].stats.secondWinsCut, 1);
    EXPECT_EQ(rs[0].stats.ply, 511);
}

// The player who moves second takes the lowest class at its node, the first
// player the highest: the order in which stored files hold them.
TEST(CombineStatsTest, EachPlayerTakesItsEndOfTheClasses) {
    const struct {
        int ply;  // of the children: odd for the second player's moves
        int first, second, chosen;
    } cases[] = {
        {1, 1, 2, 1}, {1, 3, 1, 1}, {1, 2, 0, 0}, {1, 2, 3, 2},
        {2, 2, 1, 2}, {2, 0, 2, 2}, {2, 1, 3, 3}, {2, 1, 0, 1},
    };
    for (const auto& c : cases) {
        NodeStats a = stats(c.first), child = stats(c.second);
        a.ply = child.ply = c.ply;
        combineStats(a, child);
        EXPECT_EQ(a.outcome, c.chosen) << c.ply << ": " << c.first << " or " << c.second;
    }
}

TEST_F(DatabaseFixture, LineEndingAtAnInnerNodeMarksItAsAnEnd) {
    create();
    db.mergeLine({189, 190, 211}, line(3, 3));
    db.mergeLine({189, 190}, line(0, 2));
    const std::vector<NodeRecord> rs = records();
    ASSERT_EQ(rs.size(), 4u);
    EXPECT_EQ(rs[2].stats.toEnd, 0);
    EXPECT_EQ(rs[2].stats.outcome, 3);  // an existing node keeps its class
    EXPECT_EQ(rs[2].stats.secondWinsWhole, 0);
    EXPECT_EQ(rs[1].stats.toEnd, 1);
    EXPECT_EQ(rs[0].stats.toEnd, 2);
}

TEST_F(DatabaseFixture, MergeLineRestoresTheCursorAndRefusesBadLines) {
    create();
    db.mergeLine({189, 190, 211}, line(3, 3));
    db.rewind();
    ASSERT_TRUE(db.descend(189));
    ASSERT_TRUE(db.descend(190));
    const int32_t at = db.currentOffset;
    db.frame.movesSeen = 2;
    db.mergeLine({189, 210}, line(0, 2));
    EXPECT_EQ(db.currentOffset, at);
    EXPECT_EQ(db.current.move, 190);
    EXPECT_EQ(db.frame.movesSeen, 2);

    const std::string before = readBytes(path);
    EXPECT_THROW(db.mergeLine({190, 189}, line(3, 2)), DatabaseError);
    EXPECT_THROW(db.mergeLine({}, {}), DatabaseError);
    EXPECT_THROW(db.mergeLine({189, 190, 400}, line(3, 3)), DatabaseError);
    EXPECT_THROW(db.mergeLine({189, 190, 213, -2}, line(3, 4)), DatabaseError);
    EXPECT_THROW(db.mergeLine({189, 191}, line(3, 1)), DatabaseError);
    EXPECT_EQ(readBytes(path), before);
    EXPECT_THROW(db.findOrAppendChild(462, stats(3)), DatabaseError);
    EXPECT_EQ(readBytes(path), before);
}

TEST_F(DatabaseFixture, ShowCurrentNodeWritesTheStatsLine) {
    NodeRecord root = freshRoot();
    root.firstChild = 48;
    NodeRecord node = makeRecord(189, -1, 96, 0, 1, 3);
    node.stats.ply = 6;
    node.stats.proof = 1;
    node.stats.disproof = 1;
    openRecords({root, node, makeRecord(190, -1, -1, 48)});
    db.rewind();
    ASSERT_TRUE(db.descend(189));
    std::ostringstream out;
    db.showCurrentNode(out);
    EXPECT_EQ(out.str(), "MESSAGE databaze: \nMESSAGE {1,1}, 1 0/0 iter=0 deep=6|3\n");
    ASSERT_TRUE(db.descend(190));
    std::ostringstream none;
    db.showCurrentNode(none);
    EXPECT_EQ(none.str(), "");
}

namespace {

struct Child {
    int outcome, toEnd, whole, cut;
};

}  // namespace

// Classes for the second player to move: 0 won whole, 2 won cut, 1 lost cut,
// 3 lost whole; for the first player 3, 1, 2, 0.
TEST_F(DatabaseFixture, RecommendOffersOnlyWonLines) {
    struct Case {
        const char* name;
        bool secondToMove;
        std::vector<Child> children;
        int chosen;  // index into children, -1 for none
    };
    const std::vector<Case> cases = {
        {"the won whole line, however long", true, {{3, 1, 0, 0}, {1, 1, 0, 0}, {2, 1, 0, 0}, {0, 9, 0, 0}}, 3},
        {"then the won cut line", true, {{3, 1, 0, 0}, {1, 1, 0, 0}, {2, 7, 0, 0}}, 2},
        {"lost lines are never replayed", true, {{3, 1, 0, 0}, {1, 1, 0, 0}}, -1},
        {"nor the quickest of lost whole lines", true, {{3, 4, 0, 0}, {3, 2, 0, 0}}, -1},
        {"first player: the won whole line", false, {{0, 1, 0, 0}, {2, 1, 0, 0}, {1, 1, 0, 0}, {3, 9, 0, 0}}, 3},
        {"first player: then the won cut line", false, {{0, 1, 0, 0}, {2, 1, 0, 0}, {1, 7, 0, 0}}, 2},
        {"first player: lost lines are never replayed", false, {{0, 1, 0, 0}, {2, 1, 0, 0}}, -1},
        {"first player: nor the quickest of lost whole lines", false, {{0, 4, 0, 0}, {0, 2, 0, 0}}, -1},
        {"the shortest won line", true, {{0, 8, 0, 0}, {0, 2, 0, 0}, {0, 5, 0, 0}}, 1},
        {"then the most wins below, the earlier on a tie", true, {{0, 5, 1, 0}, {0, 5, 2, 1}, {0, 5, 3, 0}}, 1},
        {"first player: the fewest wins of the other", false, {{3, 5, 2, 0}, {3, 5, 0, 1}, {3, 5, 1, 0}}, 1},
    };
    for (const Case& c : cases) {
        NodeRecord root = freshRoot();
        root.firstChild = 48;
        std::vector<NodeRecord> rs = {root, makeRecord(189, -1, 96, 0)};
        for (size_t i = 0; i < c.children.size(); ++i) {
            const Child& ch = c.children[i];
            const int next = i + 1 < c.children.size() ? int(48 * (rs.size() + 1)) : -1;
            NodeRecord r = makeRecord(190 + int(i), next, -1, 48, ch.outcome, ch.toEnd);
            r.stats.secondWinsWhole = ch.whole;
            r.stats.secondWinsCut = ch.cut;
            rs.push_back(r);
        }
        openRecords(rs);
        db.rewind();
        int move = -7;
        ASSERT_TRUE(db.recommend(c.secondToMove, move)) << "the root offers its first child";
        EXPECT_EQ(move, 189);
        ASSERT_TRUE(db.descend(189));
        const bool found = db.recommend(c.secondToMove, move);
        EXPECT_EQ(found, c.chosen >= 0) << c.name;
        if (found) {
            EXPECT_EQ(move, 190 + c.chosen) << c.name;
        }
    }
}

namespace {

// Runs every walk of the database on whatever the file holds: each must end,
// normally or with DatabaseError.
void exerciseEverything(ExperienceDatabase& db) {
    std::vector<int> moves;
    std::vector<NodeStats> list;
    int move = 0;
    std::ostringstream out;
    const std::vector<std::function<void()>> operations = {
        [&] { db.rewind(); },
        [&] { db.rewind(); db.descend(189) && db.descend(190) && db.descend(211); },
        [&] { db.rewind(); db.listChildren(moves, list); },
        [&] { db.rewind(); db.recommend(true, move); },
        [&] { db.rewind(); db.descend(189); db.recommend(false, move); },
        [&] { db.rewind(); db.descend(189); db.showCurrentNode(out); },
        [&] { db.mergeLine({189, 190, 211}, line(3, 3)); },
        [&] { db.mergeLine({189, 210, 231, 252}, line(0, 4)); },
    };
    for (const auto& operation : operations) {
        try {
            operation();
        } catch (const DatabaseError&) {
        }
    }
}

}  // namespace

TEST_F(DatabaseFixture, DamagedFilesEndEveryWalkWithAnError) {
    NodeRecord root = freshRoot();
    struct Case {
        const char* name;
        std::vector<NodeRecord> records;
    };
    auto withFirst = [&](int32_t first) {
        NodeRecord r = root;
        r.firstChild = first;
        return r;
    };
    NodeRecord cyclicRoot = withFirst(48);
    cyclicRoot.parent = 48;
    const std::vector<Case> cases = {
        {"offset not a multiple of 48", {withFirst(50), makeRecord(189, -1, -1, 0)}},
        {"negative offset", {withFirst(-48), makeRecord(189, -1, -1, 0)}},
        {"offset beyond the end", {withFirst(480), makeRecord(189, -1, -1, 0)}},
        {"child chain loops on itself", {withFirst(48), makeRecord(189, 48, -1, 0)}},
        {"child chain loops back", {withFirst(48), makeRecord(190, 96, -1, 0), makeRecord(191, 48, -1, 0)}},
        {"a child that names another parent", {withFirst(48), makeRecord(189, -1, 96, 96), makeRecord(190, -1, -1, 48)}},
        {"a node that is its own child", {withFirst(48), makeRecord(189, -1, 48, 0)}},
        {"parent chain loops through the root", {cyclicRoot, makeRecord(189, -1, 0, 0)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        openRecords(c.records);
        db.rewind();
        EXPECT_THROW(
            {
                db.descend(189);
                db.descend(190);
                db.descend(191);
                db.descend(192);
                db.mergeLine({189, 190, 211}, line(3, 3));
            },
            DatabaseError);
        exerciseEverything(db);
    }
}

TEST_F(DatabaseFixture, TruncatedAndRandomFilesNeverHangOrCrash) {
    create();
    db.mergeLine({189, 190, 211, 212}, line(3, 4));
    db.mergeLine({189, 210, 211}, line(0, 3));
    const std::string whole = readBytes(path);
    for (size_t size = 48; size < whole.size(); size += 20) {
        db.close();
        writeText(path, whole.substr(0, size));
        ASSERT_TRUE(db.open(path));
        exerciseEverything(db);
    }
    std::mt19937 random(11);
    for (int round = 0; round < 200; ++round) {
        std::string bytes(48 * (1 + random() % 8), '\0');
        for (char& b : bytes) b = char(random());
        // Small offsets make the walks go somewhere.
        for (size_t at = 0; at < bytes.size(); at += 48)
            for (const int field : {4, 8, 12})
                if (random() % 2) {
                    const uint32_t o = 48 * (random() % 8) + (random() % 4 == 0 ? random() % 48 : 0);
                    for (int i = 0; i < 4; ++i) bytes[at + field + i] = char(o >> (8 * i));
                }
        db.close();
        writeText(path, bytes);
        ASSERT_TRUE(db.open(path));
        exerciseEverything(db);
    }
}

namespace {

// In a child process: the file may grow by one record and no more. The line
// needs three, so none of them stays.
int storeOnAFullDisk(ExperienceDatabase& db, const std::string& path, size_t size) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{size + 60, size + 60};
    setrlimit(RLIMIT_FSIZE, &limit);
    bool refused = false;
    try {
        db.mergeLine({189, 190, 212, 213, 214}, line(0, 5));
    } catch (const DatabaseError&) {
        refused = true;
    }
    return refused && treeIsSound(decodeFile(path)) && readBytes(path).size() == size ? 0 : 1;
}

}  // namespace

TEST_F(DatabaseFixture, AFullDiskLeavesTheTreeLinked) {
    create();
    // Long enough that the small file naming the pending store fits below the limit.
    db.mergeLine({189, 190, 211, 231, 232, 233, 234, 235}, line(3, 8));
    const size_t size = readBytes(path).size();
    EXPECT_EXIT(std::exit(storeOnAFullDisk(db, path, size)), ::testing::ExitedWithCode(0), "");
    // The next store finishes the child process's line before its own.
    ASSERT_TRUE(db.open(path));
    db.mergeLine({189, 190, 212, 213, 214}, line(0, 5));
    const std::vector<NodeRecord> rs = records();
    EXPECT_EQ(rs.size(), 12u);
    EXPECT_TRUE(treeIsSound(rs));
    EXPECT_EQ(rs[0].stats.secondWinsWhole, 1);
}

// Links are signed 32-bit offsets, so the file ends four records after this
// one. A sparse file stands for it: the tree, then records of zeros (orphans
// whose links all name the root) up to there.
TEST_F(DatabaseFixture, AStorePastTheFileEndIsRefusedAndLeavesNoTrace) {
    create();
    db.mergeLine({189, 190, 211, 212, 232}, line(3, 5));
    db.close();
    std::filesystem::resize_file(path, MaxFileBytes - 4 * RecordSize);
    const auto head = [&] {
        std::string bytes(6 * RecordSize, '\0');
        std::ifstream(path, std::ios::binary).read(bytes.data(), std::streamsize(bytes.size()));
        return bytes;
    };
    const std::string before = head();
    const auto untouched = [&](int64_t size) {
        EXPECT_EQ(int64_t(std::filesystem::file_size(path)), size);
        EXPECT_FALSE(std::filesystem::exists(platform::pendingStorePath(path)));
    };

    ASSERT_TRUE(db.open(path));
    EXPECT_THROW(db.mergeLine({189, 210, 230, 231, 250, 251}, line(0, 6)), DatabaseError);  // five new records
    EXPECT_TRUE(db.isFull());
    EXPECT_EQ(sizeLimitReport(db), "MESSAGE The experience file " + path +
                                   " is full (44739238 of 44739242 records): nothing more is stored into it");
    EXPECT_THROW(db.mergeLine({189, 190, 211, 212, 232}, line(3, 5)), DatabaseError);  // nothing more in this run
    untouched(MaxFileBytes - 4 * RecordSize);

    ASSERT_TRUE(db.open(path));
    db.mergeLine({189, 210, 230, 231, 250}, line(0, 5));  // four: the file is full
    untouched(MaxFileBytes);
    std::vector<int32_t> game = {cellAt(9, 9), cellAt(13, 13), cellAt(12, 12), cellAt(5, 5), cellAt(6, 6)};
    std::ostringstream out;
    EXPECT_FALSE(saveGame(db, game, Undecided, out));
    EXPECT_EQ(out.str(), sizeLimitReport(db) + "\n");
    untouched(MaxFileBytes);
    db.close();
    EXPECT_NE(head(), before);  // the line of four is linked in
    ASSERT_TRUE(db.open(path));  // full, not damaged
    EXPECT_THROW(db.mergeLine({189, 210, 230, 231, 251}, line(0, 5)), DatabaseError);
    EXPECT_TRUE(db.isFull());
    EXPECT_EQ(damageReport(db), "");
    untouched(MaxFileBytes);
}
