#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "knowledge/experience_database.h"
#include "knowledge/file_check.h"
#include "knowledge_test_support.h"

using namespace knowledge_test;

namespace {

NodeRecord withCounts(NodeRecord r, int whole, int cut) {
    r.stats.secondWinsWhole = whole;
    r.stats.secondWinsCut = cut;
    return r;
}

NodeRecord rootWithChild(int32_t first, int outcome = 2, int toEnd = 1) {
    NodeRecord root = freshRoot();
    root.firstChild = first;
    root.stats.outcome = outcome;
    root.stats.toEnd = toEnd;
    return root;
}

// The root, an inner node at 48 with toEnd as given, holding 1/1, and three
// leaves below it: two whole games won by the second player and one cut one.
std::vector<NodeRecord> innerLineEnd(int toEnd) {
    return {withCounts(rootWithChild(48, 0, toEnd + 1), 1, 1),
            withCounts(makeRecord(189, -1, 96, 0, 0, toEnd), 1, 1),
            withCounts(makeRecord(190, 144, -1, 48, 0), 1, 0),
            withCounts(makeRecord(191, 192, -1, 48, 0), 1, 0),
            withCounts(makeRecord(192, -1, -1, 48, 2), 0, 1)};
}

}  // namespace

// Every state the store leaves behind must pass: lines that share prefixes,
// lines that end where others go on (and the other way round), the same line
// again with another class.
TEST(FileCheck, EveryFileTheStoresWriteIsSound) {
    TempDir dir;
    ExperienceDatabase db;
    db.createFile(dir.file("experience.bin"));
    std::mt19937 random(5);
    const int alphabet[] = {190, 191, 210, 211, 230};
    for (int round = 0; round < 300; ++round) {
        std::vector<int32_t> moves = {NormalisedFirstMove};
        const int length = 1 + int(random() % 7);
        while (int(moves.size()) < length) moves.push_back(alphabet[random() % 5]);
        std::vector<NodeStats> stats(moves.size());
        const int outcome = int(random() % 4);
        for (size_t i = 0; i < stats.size(); ++i) {
            stats[i].outcome = outcome;
            stats[i].ply = int(i);
        }
        db.mergeLine(moves, stats);
        const FileCheck check = checkTree(decodeFile(dir.file("experience.bin")));
        ASSERT_TRUE(check.sound()) << "after line " << round << ": " << checkReport("f", check);
        ASSERT_EQ(check.reachable, check.records);
    }
}

TEST(FileCheck, FindsEveryKindOfFault) {
    struct Case {
        const char* name;
        std::vector<NodeRecord> records;
        const char* fault;  // nullptr: sound
        int reachable;
    };
    const NodeRecord leaf3 = makeRecord(189, -1, -1, 0, 3);
    const std::vector<Case> cases = {
        {"no root", {}, "no root record", 0},
        {"a link past the end", {rootWithChild(4800)}, "the record at 0: firstChild 4800 points outside the file", 1},
        {"a link off a record boundary", {rootWithChild(50), leaf3},
         "the record at 0: firstChild 50 is not on a record boundary", 1},
        {"a negative parent", {rootWithChild(48), makeRecord(189, -1, -1, -48, 3)},
         "the record at 48: parent -48 points outside the file", 2},
        {"a child naming another parent",
         {rootWithChild(48), makeRecord(189, -1, 96, 0, 3), makeRecord(190, -1, -1, 0, 3)},
         "the record at 96 is listed below 48 but names 0 as its parent", 3},
        {"a node listed by two parents",
         {rootWithChild(48), makeRecord(189, 144, 96, 0, 3), makeRecord(190, -1, -1, 48, 3),
          makeRecord(191, -1, 96, 0, 3)},
         "the record at 96 is reached twice, the second time below 48", 4},
        {"a chain that runs back", {rootWithChild(48), makeRecord(189, 48, -1, 0, 3)},
         "the record at 48 is reached twice, the second time below 0", 2},
        {"two children with one move",
         {rootWithChild(48), makeRecord(189, 96, -1, 0, 3), makeRecord(189, -1, -1, 0, 3)},
         "the record at 0 has two children with move 189", 3},
        {"a sum that is off",
         {withCounts(rootWithChild(48, 0), 2, 0), withCounts(makeRecord(189, -1, -1, 0, 0), 1, 0)},
         "the record at 0 holds counts 2/0, not 1/0 from its children", 2},
        {"a line end of class 0 that a store never finished", {rootWithChild(48, 0), makeRecord(189, -1, -1, 0, 0)},
         "the record at 48 holds counts 0/0, not 1/0 of a line end", 2},
        // A line ended at 48, which has children: toEnd 0 and 1 for its class
        // stand in place of the whole-game sum 2; the cut sum stays.
        {"a line that ended at an inner node", innerLineEnd(0), nullptr, 5},
        {"an inner node that still counts a line end", innerLineEnd(1),
         "the record at 48 holds counts 1/1, not 2/1 from its children", 5},
        {"an orphan left by a store cut short", {rootWithChild(48, 3), leaf3, makeRecord(190, -1, -1, 48, 3)},
         nullptr, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FileCheck check = checkTree(c.records);
        EXPECT_EQ(check.reachable, c.reachable);
        if (!c.fault) {
            EXPECT_TRUE(check.sound()) << checkReport("f", check);
            continue;
        }
        EXPECT_NE(std::find(check.faults.begin(), check.faults.end(), c.fault), check.faults.end())
            << checkReport("f", check);
    }
}

TEST(FileCheck, ReportsOnOneLine) {
    FileCheck sound = checkTree({rootWithChild(48, 3), makeRecord(189, -1, -1, 0, 3), makeRecord(190, -1, -1, 48, 3)});
    EXPECT_EQ(checkReport("tarvo/experience.bin", sound),
              "MESSAGE db check: tarvo/experience.bin: 3 records, 2 reachable, 1 orphans: sound");
    // How full: cut, not rounded, so that only a full file shows 100%.
    sound.capacity = 3;
    EXPECT_EQ(checkReport("f", sound),
              "MESSAGE db check: f: 3 records, 2 reachable, 1 orphans, 100.00% full (room for 0 more records): sound");
    sound.capacity = 44739242;
    EXPECT_EQ(checkReport("f", sound), "MESSAGE db check: f: 3 records, 2 reachable, 1 orphans, 0.00% full (room "
                                       "for 44739239 more records): sound");
    std::vector<NodeRecord> damaged = {rootWithChild(48, 3)};
    for (int i = 0; i < 7; ++i) damaged.push_back(makeRecord(189 + i, -1, 4800, 0, 3));
    damaged[0].firstChild = 48;
    FileCheck faulty = checkTree(damaged);
    faulty.tornBytes = 20;
    faulty.storePending = true;
    faulty.capacity = 9;
    EXPECT_EQ(checkReport("x.bin", faulty),
              "ERROR db check: x.bin: 8 records, 2 reachable, 6 orphans, 88.88% full (room for 1 more records), 20 "
              "bytes of a torn record at the end, an interrupted store that the next store completes: 7 faults: the "
              "record at 48: firstChild 4800 points outside the file; the record at 96: firstChild 4800 points outside the file; the record at 144: "
              "firstChild 4800 points outside the file; the record at 192: firstChild 4800 points outside the file; "
              "the record at 240: firstChild 4800 points outside the file; ...");
}
