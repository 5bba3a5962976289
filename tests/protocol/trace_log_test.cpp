#include "protocol/trace_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "protocol/scratch_directory.h"

namespace {

std::vector<std::string> logLines() {
    std::vector<std::string> lines;
    std::istringstream text(fileText("tarvo/cycletrace.log"));
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
}

struct TraceLogTest : ::testing::Test {
    void SetUp() override {
        traceRing = {};
        resetTraceRing();
    }
};

TEST_F(TraceLogTest, UntouchedRingDumpsFifteenEmptyRecordsAndTheHyphenLine) {
    ScratchDirectory scratch;
    dumpTraceLog();
    std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 106u);
    const std::vector<std::string> block = {"ID  : 0", "COND: ", "FILE: ", "LINE: 0", "FUNC: ",
                                            "TEXT: ", ""};
    for (int i = 0; i < 105; ++i) EXPECT_EQ(lines[i], block[i % 7]) << i;
    EXPECT_EQ(lines[105], "---------------------");

    dumpTraceLog();
    EXPECT_EQ(logLines().size(), 212u);
}

TEST_F(TraceLogTest, RecordsWrapOldestFirstAndLongTextsAreCut) {
    ScratchDirectory scratch;
    const std::string longText(300, 'q');
    for (int i = 0; i < 17; ++i)
        recordTrace("moveCount == 0", "/some/where/src/protocol/turn_driver.cpp", 100 + i,
                    "chooseMove", i == 16 ? longText.c_str() : "begin");
    EXPECT_EQ(traceRing.position, 17 % TraceRingSize);
    dumpTraceLog();
    std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 106u);
    EXPECT_EQ(lines[0], "ID  : 3");  // 1 and 2 were overwritten
    EXPECT_EQ(lines[1], "COND: moveCount == 0");
    EXPECT_EQ(lines[2], "FILE: turn_driver.cpp");
    EXPECT_EQ(lines[3], "LINE: 102");
    EXPECT_EQ(lines[4], "FUNC: chooseMove");
    EXPECT_EQ(lines[5], "TEXT: begin");
    EXPECT_EQ(lines[98], "ID  : 17");
    EXPECT_EQ(lines[103], "TEXT: " + std::string(101, 'q'));
}

TEST_F(TraceLogTest, WritePositionSeventeenStartsAtRecordTwo) {
    ScratchDirectory scratch;
    for (int i = 0; i < TraceRingSize; ++i) traceRing.records[i].id = 100 + i;
    traceRing.position = 17;
    dumpTraceLog();
    std::vector<std::string> lines = logLines();
    ASSERT_EQ(lines.size(), 106u);
    EXPECT_EQ(lines[0], "ID  : 102");
    EXPECT_EQ(lines[7], "ID  : 103");
    EXPECT_EQ(lines[7 * 12], "ID  : 114");
    EXPECT_EQ(lines[7 * 13], "ID  : 100");
}

TEST_F(TraceLogTest, MissingDataDirectoryIsNotCreated) {
    ScratchDirectory scratch(false);
    trace("x > 0", "placed");
    dumpTraceLog();
    EXPECT_FALSE(std::filesystem::exists("tarvo"));
}

TEST_F(TraceLogTest, TraceHelperRecordsTheCallersPlace) {
    trace("best < 0", "no move");
    const TraceRecord& record = traceRing.records[0];
    EXPECT_EQ(record.id, 1);
    EXPECT_STREQ(record.file, "trace_log_test.cpp");
    EXPECT_STREQ(record.cond, "best < 0");
    EXPECT_STREQ(record.func, "TestBody");
    EXPECT_GT(record.line, 0);
}

TEST(TraceFunctionNameTest, SignaturesLoseTypesScopesAndParameters) {
    const std::pair<const char*, const char*> cases[] = {
        {"int chooseMove(GameSession&)", "chooseMove"},
        {"int {anonymous}::fastReply(GameSession&)", "fastReply"},
        {"void CommandLoop::answerTurn(int)", "answerTurn"},
        {"main", "main"},
        {"", ""},
    };
    for (const auto& [signature, name] : cases) EXPECT_EQ(bareFunctionName(signature), name) << signature;
}

}  // namespace
