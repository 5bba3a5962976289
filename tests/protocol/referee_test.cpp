#include <gtest/gtest.h>

#include "protocol/referee_runner.h"

namespace {

struct FaultCase {
    const char* mode;
    const char* counter;  // the stats label that must count the fault
    bool gameGoesOn;      // an ERROR line is counted but the game is played out
};

TEST(RefereeTest, CountsEachFaultAndFailsTheMatch) {
    const FaultCase cases[] = {
        {"occupied", "illegal moves", false}, {"offboard", "illegal moves", false},
        {"garbage", "illegal moves", false},  {"crash", "crashes", false},
        {"late", "late replies", false},      {"error", "protocol errors", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        RefereeRun run = runReferee("--games 3 --timeout-turn 150 --grace 1000 --print-boards none " +
                                    fakeBrain(std::string("--mode ") + c.mode + " --sleep 400") + " " +
                                    fakeBrain("--seed 3"));
        EXPECT_EQ(run.exitCode, 1) << run.output;
        EXPECT_EQ(run.stat('A', c.counter), 3) << run.output;
        EXPECT_EQ(run.stat('B', "illegal moves"), 0);
        EXPECT_EQ(run.stat('B', "protocol errors"), 0);
        size_t forfeits = 0;
        for (size_t at = run.output.find("A forfeits"); at != std::string::npos;
             at = run.output.find("A forfeits", at + 1))
            ++forfeits;
        EXPECT_EQ(forfeits, c.gameGoesOn ? 0u : 3u) << run.output;
    }
}

TEST(RefereeTest, CleanMatchPassesWithEveryGameDecided) {
    RefereeRun run = runReferee("--games 6 --opening-stones 0-5 --timeout-match 5000 " +
                                fakeBrain("--mode messages") + " " + fakeBrain("--seed 3"));
    EXPECT_EQ(run.exitCode, 0) << run.output;
    for (const char* label : {"illegal moves", "crashes", "late replies", "protocol errors"}) {
        EXPECT_EQ(run.stat('A', label), 0) << label;
        EXPECT_EQ(run.stat('B', label), 0) << label;
    }
    EXPECT_NE(run.output.find("result: 6 games"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("made five"), std::string::npos);
    EXPECT_LT(run.stat('A', "worst overshoot"), 0);
    // The final board is printed with its column header.
    EXPECT_NE(run.output.find("   0  1  2  3"), std::string::npos);
}

}  // namespace
