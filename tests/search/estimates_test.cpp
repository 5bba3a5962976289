#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "search/estimates.h"
#include "search/proof_state.h"
#include "search_test_support.h"

namespace {

std::vector<int32_t> table(const int32_t (&t)[EstimateCount]) { return {t, t + EstimateCount}; }

std::vector<int32_t> padded(std::vector<int32_t> values, int32_t fill = 0) {
    values.resize(EstimateCount, fill);
    return values;
}

void writeFile(const char* path, const std::string& text) {
    std::filesystem::create_directories("tarvo/matlab");
    std::ofstream(path) << text;
}

}  // namespace

TEST(Estimates, LoadsEachTableOnItsOwn) {
    std::string fifty, fortyFiveLines;
    std::vector<int32_t> firstFortyFive;
    for (int i = 1; i <= 50; ++i) {
        fifty += std::to_string(i * 10) + (i % 7 ? " " : "\t");
        if (i <= 45) {
            fortyFiveLines += std::to_string(-i) + "\n";
            firstFortyFive.push_back(i * 10);
        }
    }
    std::vector<int32_t> negatives;
    for (int i = 1; i <= 45; ++i) negatives.push_back(-i);

    struct Case {
        const char* name;
        const char* pnText;  // null: no file
        const char* dnText;
        std::vector<int32_t> pn, dn;
    };
    const Case cases[] = {
        {"no files", nullptr, nullptr, padded({}, 1), padded({}, 1)},
        {"three values", "3 5 8", nullptr, padded({3, 5, 8}), padded({}, 1)},
        {"line ends", "3\n5\n\n8\n", "+3 5 8", padded({3, 5, 8}), padded({3, 5, 8})},
        {"fifty values", fifty.c_str(), fortyFiveLines.c_str(), firstFortyFive, negatives},
        {"stops at a non-number", "1 2 x 4", "", padded({1, 2}), padded({})},
    };
    for (const Case& c : cases) {
        ScopedWorkDir dir("tarvo_estimates");
        if (c.pnText) writeFile("tarvo/matlab/pn.est", c.pnText);
        if (c.dnText) writeFile("tarvo/matlab/dn.est", c.dnText);
        idCounter = 77;
        loadEstimates();
        EXPECT_EQ(table(pnEst), c.pn) << c.name;
        EXPECT_EQ(table(dnEst), c.dn) << c.name;
        EXPECT_EQ(idCounter, 0u) << c.name;
    }
    ScopedWorkDir dir("tarvo_estimates");
    loadEstimates();  // leave the defaults for the other tests
}

TEST(Estimates, ChildIndicesPastTheTableTakeTheLastEntry) {
    EXPECT_EQ(estimateIndex(0), 0);
    EXPECT_EQ(estimateIndex(44), 44);
    EXPECT_EQ(estimateIndex(45), 44);
    EXPECT_EQ(estimateIndex(254), 44);
}
