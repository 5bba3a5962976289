#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "knowledge/knowledge_test_support.h"
#include "platform/file_kind.h"
#include "platform/shared_file.h"

using namespace knowledge_test;
using platform::LockMode;

namespace {

// Two streams on one file stand for two processes: the lock belongs to the
// open file, not to the process.
struct TwoStreams {
    TempDir dir;
    std::FILE* first;
    std::FILE* second;
    TwoStreams() {
        writeText(dir.file("shared.bin"), "data");
        first = std::fopen(dir.file("shared.bin").c_str(), "r+b");
        second = std::fopen(dir.file("shared.bin").c_str(), "r+b");
    }
    ~TwoStreams() {
        std::fclose(first);
        std::fclose(second);
    }
};

}  // namespace

TEST(SharedFile, LocksExcludeWhatTheyMust) {
    struct Case {
        LockMode held, wanted;
        bool granted;
    };
    const Case cases[] = {
        {LockMode::Shared, LockMode::Shared, true},
        {LockMode::Shared, LockMode::Exclusive, false},
        {LockMode::Exclusive, LockMode::Shared, false},
        {LockMode::Exclusive, LockMode::Exclusive, false},
    };
    for (const Case& c : cases) {
        TwoStreams files;
        ASSERT_TRUE(platform::lockFile(files.first, c.held, 0));
        EXPECT_EQ(platform::lockFile(files.second, c.wanted, 0), c.granted);
        platform::unlockFile(files.first);
        EXPECT_TRUE(platform::lockFile(files.second, LockMode::Exclusive, 0));
    }
}

TEST(SharedFile, ABusyLockIsWaitedForAsLongAsAllowed) {
    TwoStreams files;
    ASSERT_TRUE(platform::lockFile(files.first, LockMode::Exclusive, 0));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(platform::lockFile(files.second, LockMode::Exclusive, 40));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(40));
    EXPECT_LT(waited, std::chrono::seconds(5));
    // A lock is not a wall: the data stays readable beside it.
    char bytes[4] = {};
    EXPECT_EQ(std::fread(bytes, 1, 4, files.second), 4u);
}

TEST(FileKind, TellsWhatCanBeReadSafely) {
    TempDir dir;
    writeText(dir.file("game.psq"), "x");
    std::filesystem::create_directory(dir.file("games"));
    ASSERT_EQ(mkfifo(dir.file("pipe.psq").c_str(), 0600), 0);
    std::filesystem::create_symlink(dir.file("game.psq"), dir.file("link.psq"));
    struct Case {
        std::string path;
        platform::FileKind kind;
    };
    const Case cases[] = {
        {dir.file("game.psq"), platform::FileKind::Regular},
        {dir.file("link.psq"), platform::FileKind::Regular},
        {dir.file("games"), platform::FileKind::Directory},
        {dir.file("missing.psq"), platform::FileKind::Missing},
        {dir.file("game.psq/below"), platform::FileKind::Missing},
        {dir.file("pipe.psq"), platform::FileKind::Other},
        {"/dev/null", platform::FileKind::Other},
    };
    for (const Case& c : cases) EXPECT_EQ(platform::fileKind(c.path), c.kind) << c.path;
}
