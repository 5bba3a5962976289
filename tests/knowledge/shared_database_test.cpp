// One experience file used by several processes, by processes that die in the
// middle of a store, and by files that were damaged outside the engine.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <sstream>

#include "knowledge/database_commands.h"
#include "knowledge/experience_database.h"
#include "knowledge/file_check.h"
#include "knowledge/game_records.h"
#include "knowledge_test_support.h"
#include "platform/data_directory.h"
#include "platform/shared_file.h"

using namespace knowledge_test;

namespace {

std::vector<NodeStats> lineStats(int outcome, size_t length) {
    std::vector<NodeStats> stats(length);
    for (size_t i = 0; i < length; ++i) {
        stats[i].outcome = outcome;
        stats[i].ply = int(i);
    }
    return stats;
}

void store(ExperienceDatabase& db, const std::vector<int32_t>& moves, int outcome) {
    db.mergeLine(moves, lineStats(outcome, moves.size()));
}

// True when the database can walk the whole line from the root.
bool follows(ExperienceDatabase& db, const std::vector<int32_t>& moves) {
    db.rewind();
    for (const int32_t move : moves)
        if (!db.descend(move)) return false;
    return true;
}

FileCheck checkFile(const std::string& path) { return checkTree(decodeFile(path)); }

// Runs work in a child process and returns how it ended: the exit code, or
// 1000 + the signal that killed it.
template <class Work>
int inChild(Work work) {
    const pid_t child = fork();
    if (child == 0) _exit(work());
    int status = 0;
    waitpid(child, &status, 0);
    return WIFSIGNALED(status) ? 1000 + WTERMSIG(status) : WEXITSTATUS(status);
}

struct SharedFixture : ::testing::Test {
    TempDir dir;
    std::string path = dir.file("experience.bin");

    void SetUp() override {
        ExperienceDatabase creator;
        creator.createFile(path);
    }
};

const std::vector<int32_t> LineA = {189, 190, 211, 212, 232};
const std::vector<int32_t> LineB = {189, 190, 211, 250, 251, 252};
const std::vector<int32_t> LineC = {189, 210, 230, 231};

}  // namespace

TEST_F(SharedFixture, AnotherHandlesStoresAreFollowedAndExtended) {
    ExperienceDatabase early, late;
    ASSERT_TRUE(early.open(path));  // holds only the root
    early.rewind();
    ASSERT_TRUE(late.open(path));
    store(late, LineA, 3);

    ASSERT_TRUE(follows(early, {189, 190}));
    int move = 0;
    ASSERT_TRUE(early.recommend(false, move));
    EXPECT_EQ(move, 211);
    // The cursor sits on a leaf that the other handle then extends.
    ASSERT_TRUE(follows(early, LineA));
    store(late, {189, 190, 211, 212, 232, 233}, 3);
    EXPECT_TRUE(early.descend(233));
    std::ostringstream shown;
    ASSERT_TRUE(follows(early, LineA));
    early.showCurrentNode(shown);
    EXPECT_EQ(shown.str(), "MESSAGE databaze: \nMESSAGE {0,0}, 3 0/0 iter=0 deep=4|1\n");

    store(early, LineB, 0);
    ASSERT_TRUE(follows(late, LineB));
    const FileCheck check = checkFile(path);
    EXPECT_TRUE(check.sound()) << checkReport(path, check);
    EXPECT_EQ(check.records, 1 + 6 + 3);
    EXPECT_EQ(decodeFile(path)[0].stats.secondWinsWhole, 1);
}

TEST_F(SharedFixture, AStoreWaitsForTheLockOnlyAsLongAsItMay) {
    ExperienceDatabase db;
    ASSERT_TRUE(db.open(path));
    std::FILE* other = std::fopen(path.c_str(), "r+b");
    ASSERT_TRUE(platform::lockFile(other, platform::LockMode::Exclusive, 0));
    {
        const ExperienceDatabase::StoreLock lock(db, 20);
        EXPECT_EQ(lock.state, ExperienceDatabase::StoreStart::Busy);
    }
    platform::unlockFile(other);
    {
        const ExperienceDatabase::StoreLock lock(db, 0);
        EXPECT_TRUE(lock.ready());
        // Nested stores of one process share the lock it holds.
        store(db, LineA, 3);
        EXPECT_FALSE(platform::lockFile(other, platform::LockMode::Shared, 0));
    }
    EXPECT_TRUE(platform::lockFile(other, platform::LockMode::Shared, 0));
    std::fclose(other);
}

// A reader that meets a link half written by another process reads it again
// once the writer is done.
TEST_F(SharedFixture, AHalfWrittenLinkIsReadAgainAfterTheWriter) {
    ExperienceDatabase db;
    ASSERT_TRUE(db.open(path));
    store(db, LineA, 3);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t writer = fork();
    if (writer == 0) {
        std::FILE* file = std::fopen(path.c_str(), "r+b");
        platform::lockFile(file, platform::LockMode::Exclusive, 1000);
        const auto setFirstChild = [&](const char (&bytes)[5]) {
            std::fseek(file, 8, SEEK_SET);  // the root's firstChild
            std::fwrite(bytes, 1, 4, file);
            std::fflush(file);
        };
        setFirstChild("\x30\x00\xff\xff");  // the new low bytes beside the old high ones
        if (write(ready[1], "x", 1) != 1) _exit(1);
        usleep(30000);
        setFirstChild("\x30\x00\x00\x00");
        platform::unlockFile(file);
        _exit(0);
    }
    char signal = 0;
    ASSERT_EQ(read(ready[0], &signal, 1), 1);
    db.rewind();
    EXPECT_TRUE(db.descend(189));
    waitpid(writer, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
}

// A copy cut at a record boundary keeps links into the missing tail; writing
// new records there would hang them under the wrong parents.
TEST_F(SharedFixture, ADamagedFileIsFollowedButNeverWritten) {
    {
        ExperienceDatabase db;
        ASSERT_TRUE(db.open(path));
        store(db, LineA, 3);
        store(db, LineC, 0);
    }
    const std::string whole = readBytes(path);
    struct Case {
        const char* name;
        std::string bytes;
        bool afterOpening;  // damaged while the database is open
    };
    std::string offBoundary = whole;
    offBoundary[48 * 7 + 8] = 1;  // the firstChild of the node of 210
    const Case cases[] = {
        {"cut at a record boundary", whole.substr(0, 48 * 7), false},
        {"a link off a record boundary", offBoundary, false},
        {"cut by another process", whole.substr(0, 48 * 7), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeText(path, c.afterOpening ? whole : c.bytes);
        ExperienceDatabase db;
        ASSERT_TRUE(db.open(path));
        if (c.afterOpening) writeText(path, c.bytes);
        EXPECT_TRUE(follows(db, LineA));
        EXPECT_THROW(follows(db, LineC), DatabaseError);
        std::ostringstream out;
        std::vector<int32_t> game = {cellAt(9, 9), cellAt(10, 9), cellAt(11, 10), cellAt(12, 10), cellAt(13, 11)};
        EXPECT_FALSE(saveGame(db, game, Undecided, out));
        game = {cellAt(9, 9), cellAt(10, 9), cellAt(11, 10), cellAt(12, 10), cellAt(13, 11)};
        EXPECT_FALSE(saveGame(db, game, Undecided, out));
        EXPECT_EQ(out.str(), "MESSAGE The experience file " + path +
                                 " is damaged (a link points outside it): nothing is stored into it in this run; "
                                 "\"db check\" shows more\nMESSAGE Saving to DB failed. The file is damaged\n"
                                 "MESSAGE Saving to DB failed. The file is damaged\n");
        EXPECT_EQ(db.beginStore(0), ExperienceDatabase::StoreStart::Damaged);
        EXPECT_EQ(readBytes(path), c.bytes);
    }
}

// A write that stops short at every byte across a store: the process either
// lives and reports the failure, or dies of the file-size signal. The next
// process cuts a torn record off, finishes the store and goes on.
TEST_F(SharedFixture, AStoreCutShortAnywhereIsFinishedByTheNext) {
    {
        ExperienceDatabase db;
        ASSERT_TRUE(db.open(path));
        store(db, LineA, 3);
        store(db, LineC, 0);
        store(db, {189, 190, 212, 213, 214, 215, 216}, 1);
    }
    const std::string before = readBytes(path);
    const size_t added = 48 * 4;  // LineB adds 250, 251 and 252
    for (const bool dies : {false, true}) {
        for (size_t limit = before.size(); limit <= before.size() + added; limit += dies ? 5 : 7) {
            SCOPED_TRACE(std::to_string(limit) + (dies ? " (killed)" : " (failed)"));
            writeText(path, before);
            const int ended = inChild([&] {
                ExperienceDatabase db;
                if (!db.open(path)) return 2;
                if (dies) signal(SIGXFSZ, SIG_DFL);
                const rlimit cap{rlim_t(limit), rlim_t(limit)};
                setrlimit(RLIMIT_FSIZE, &cap);
                try {
                    store(db, LineB, 0);
                } catch (const DatabaseError&) {
                    return 1;
                }
                return 0;
            });
            const bool stored = readBytes(path).size() >= before.size() + 3 * 48;
            EXPECT_TRUE(ended == 0 || ended == 1 || (dies && ended == 1000 + SIGXFSZ)) << ended;
            EXPECT_TRUE(ended != 0 || stored);

            ExperienceDatabase next;
            ASSERT_TRUE(next.open(path));
            store(next, {189, 210, 230, 240, 241}, 3);
            store(next, LineB, 0);
            const std::vector<NodeRecord> rs = decodeFile(path);
            const FileCheck check = checkTree(rs);
            EXPECT_TRUE(check.sound()) << checkReport(path, check);
            EXPECT_EQ(check.reachable, check.records);  // nothing here appends without linking
            EXPECT_TRUE(follows(next, LineB));
            EXPECT_EQ(rs[0].stats.secondWinsWhole, 2);
            EXPECT_EQ(readBytes(path).size() % 48, 0u);
            EXPECT_FALSE(std::filesystem::exists(platform::pendingStorePath(path)));
        }
    }
}

// The moment a kill is worst for the statistics: every record is appended and
// linked, none of the line's nodes is recomputed.
TEST_F(SharedFixture, AStoreKilledBeforeItsRecomputationIsFinished) {
    {
        ExperienceDatabase db;
        ASSERT_TRUE(db.open(path));
        store(db, LineA, 3);
        store(db, LineC, 3);
        const ExperienceDatabase::StoreLock lock(db, 0);
        db.markPendingStore(LineB, lineStats(0, LineB.size()));
        db.moveTo(0);
        for (size_t i = 0; i < LineB.size(); ++i) db.findOrAppendChild(LineB[i], lineStats(0, LineB.size())[i]);
    }
    std::ostringstream out;
    checkDatabase(path, out);
    EXPECT_TRUE(out.str().starts_with("ERROR db check: " + path + ": 12 records, 12 reachable, 0 orphans, 0.00% full (room for 44739230 more records), an "
                                      "interrupted store that the next store completes: "))
        << out.str();

    ExperienceDatabase next;
    ASSERT_TRUE(next.open(path));
    store(next, {189, 210, 230, 231, 240}, 1);
    const std::vector<NodeRecord> rs = decodeFile(path);
    EXPECT_TRUE(checkTree(rs).sound()) << checkReport(path, checkTree(rs));
    EXPECT_EQ(rs[0].stats.secondWinsWhole, 1);
    ASSERT_TRUE(follows(next, {189, 190}));
    int move = 0;
    ASSERT_TRUE(next.recommend(true, move));
    EXPECT_EQ(move, 211);
    EXPECT_EQ(next.current.stats.outcome, 0);  // the second player's win reached the top
    EXPECT_EQ(next.current.stats.toEnd, 4);
    out.str("");
    checkDatabase(path, out);
    EXPECT_EQ(out.str(), "MESSAGE db check: " + path + ": 13 records, 13 reachable, 0 orphans, 0.00% full (room for 44739229 more records): sound\n");
}

// Kills at random moments of a process that stores without a pause.
TEST_F(SharedFixture, RandomKillsLeaveAFileTheNextStoreFinishes) {
    std::mt19937 random(3);
    for (int round = 0; round < 30; ++round) {
        const unsigned seed = random();
        const pid_t child = fork();
        if (child == 0) {
            ExperienceDatabase db;
            if (!db.open(path)) _exit(2);
            std::mt19937 lines(seed);
            for (;;) {
                std::vector<int32_t> moves = {189};
                for (int i = 1 + int(lines() % 8); i > 0; --i) moves.push_back(190 + int(lines() % 60));
                store(db, moves, int(lines() % 4));
            }
        }
        usleep(useconds_t(2000 + random() % 8000));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        // Only a store that a marker names can have left counts unfinished.
        const FileCheck left = checkFile(path);
        EXPECT_TRUE(left.sound() || std::filesystem::exists(platform::pendingStorePath(path))) << checkReport(path, left);

        ExperienceDatabase next;
        ASSERT_TRUE(next.open(path));
        store(next, LineA, int(round % 4));
        const FileCheck check = checkFile(path);
        ASSERT_TRUE(check.sound()) << "round " << round << ": " << checkReport(path, check);
        ASSERT_TRUE(follows(next, LineA));
    }
}
