#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/clock.h"
#include "platform/directory.h"
#include "platform/memory.h"

TEST(Clock, DifferencesWrapAcrossTheSignBoundary) {
    struct Case { int32_t a, b, diff; };
    const Case cases[] = {
        {100, 40, 60},
        {INT32_MIN + 5, INT32_MAX - 4, 10},  // the reading wrapped between b and a
        {INT32_MAX - 4, INT32_MIN + 5, -10},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::clockDiff(c.a, c.b), c.diff);
        EXPECT_EQ(platform::clockAdd(c.b, c.diff), c.a);
    }
}

TEST(Clock, AdvancesWithTime) {
    const int32_t first = platform::clockMs();
    const int32_t second = platform::clockMs();
    EXPECT_GE(platform::clockDiff(second, first), 0);
    EXPECT_LT(platform::clockDiff(second, first), 1000);
}

TEST(Memory, ReportsAPlausibleFigure) {
    const int64_t before = platform::committedMemoryBytes();
    EXPECT_GT(before, 0);
    std::vector<char> block(64 << 20, 1);  // touched, so it must be counted
    EXPECT_GE(platform::committedMemoryBytes(), before + (32 << 20));
    EXPECT_EQ(block[12345], 1);
}

// Sizes below, at and above a large page, and ones that are no whole number
// of pages: every byte reads zero and keeps what is written, the first and
// the last included (a wrong trim of the aligned mapping would lose either).
TEST(Memory, LargeZeroedMemoryIsZeroedWritableAndGivenBack) {
    for (size_t bytes : {size_t{32}, size_t{4096} + 16, size_t{2} << 20, (size_t{6} << 20) + 4096 * 3 + 8}) {
        for (int round = 0; round < 2; ++round) {
            auto* memory = static_cast<unsigned char*>(platform::allocateLargeZeroed(bytes));
            ASSERT_NE(memory, nullptr) << bytes;
            size_t nonZero = 0;
            for (size_t i = 0; i < bytes; ++i) nonZero += memory[i] != 0;
            EXPECT_EQ(nonZero, 0u) << bytes;
            memory[0] = 1;
            memory[bytes - 1] = 2;
            EXPECT_EQ(memory[0] + memory[bytes - 1], 3) << bytes;
            platform::releaseLargeZeroed(memory, bytes);
        }
    }
}

TEST(Directory, ListsEntriesAndRefusesFiles) {
    const auto root = std::filesystem::temp_directory_path() / "tarvo_dir_test";
    std::filesystem::remove_all(root);
    platform::makeDirectory(root.string());
    platform::makeDirectory(root.string());  // a second creation is harmless
    std::ofstream(root / "a.rec") << "x";
    platform::makeDirectory((root / "sub").string());
    std::vector<std::string> names;
    ASSERT_TRUE(platform::listDirectory(root.string(), names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.rec", "sub"}));
    EXPECT_FALSE(platform::listDirectory((root / "a.rec").string(), names));
    EXPECT_FALSE(platform::listDirectory((root / "missing").string(), names));
    std::filesystem::remove_all(root);
}
