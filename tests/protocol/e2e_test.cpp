#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "protocol/referee_runner.h"
#include "protocol/scratch_directory.h"

namespace {

// The sanitizer pass sets a smaller number to keep the suite's time down.
int gamesPerMatch() {
    const char* games = std::getenv("TARVO_E2E_GAMES");
    const int n = games ? std::atoi(games) : 0;
    return n > 0 ? n : 20;
}

struct MatchCase {
    const char* name;
    const char* settings;
};

// The engine plays itself from random openings, one process per side for the
// whole match, as a manager runs it. The brains run in an empty directory, so
// they play without a database.
TEST(EndToEndTest, MatchesAgainstItselfKeepEveryRule) {
    const MatchCase cases[] = {
        {"turn limit 220 ms", "--timeout-turn 220"},
        {"turn limit 100 ms", "--timeout-turn 100"},
        {"time left 1000 ms", "--timeout-turn 10000 --timeout-match 1000"},
    };
    const int games = gamesPerMatch();
    for (size_t i = 0; i < std::size(cases); ++i) {
        const MatchCase& c = cases[i];
        SCOPED_TRACE(c.name);
        ScratchDirectory scratch(false);
        const std::string engine = shellQuote(TARVO_EXE);
        RefereeRun run = runReferee("--games " + std::to_string(games) + " --seed " + std::to_string(11 + i) +
                                    " --opening-stones 0-5 --print-boards none " + c.settings + " " + engine +
                                    " " + engine);
        EXPECT_EQ(run.exitCode, 0) << run.output;
        EXPECT_NE(run.output.find("result: " + std::to_string(games) + " games"), std::string::npos)
            << run.output;
        for (char brain : {'A', 'B'}) {
            for (const char* label : {"illegal moves", "crashes", "late replies", "protocol errors"})
                EXPECT_EQ(run.stat(brain, label), 0) << brain << " " << label << "\n" << run.output;
            EXPECT_LT(run.stat(brain, "worst overshoot"), 0) << run.output;
        }
        const size_t stats = run.output.find("result: ");
        std::cout << "[ e2e " << c.name << " ] "
                  << (stats == std::string::npos ? run.output : run.output.substr(stats));
    }
}

}  // namespace
