// Real engine processes sharing one experience file, as managers start them:
// several brains in one folder, one of them started long before the others.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <random>
#include <set>

#include "knowledge/file_check.h"
#include "knowledge_test_support.h"
#include "platform/shared_file.h"

using namespace knowledge_test;

namespace {

std::string readAll(std::FILE* pipe) {
    std::string output;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    return output;
}

// The engine in dir on the given input; a blocked read ends it after 20 s.
std::FILE* startEngine(const TempDir& dir, const std::string& inputFile) {
    const std::string command =
        "cd '" + dir.path.string() + "' && timeout 20 '" TARVO_EXE "' < " + inputFile + " 2>&1";
    return popen(command.c_str(), "r");
}

std::string runEngine(const TempDir& dir, const std::string& input, const std::string& name = "input.txt") {
    writeText(dir.file(name), input);
    std::FILE* pipe = startEngine(dir, name);
    if (!pipe) return "popen failed";
    const std::string output = readAll(pipe);
    pclose(pipe);
    return output;
}

std::string playLines(const std::vector<int>& moves) {
    std::string text;
    for (const int m : moves) text += "play " + std::to_string(cellX(m)) + "," + std::to_string(cellY(m)) + "\n";
    return text;
}

// Every node of the tree as the moves that lead to it.
std::set<std::vector<int>> pathsOf(const std::vector<NodeRecord>& records) {
    std::set<std::vector<int>> paths;
    std::vector<std::pair<int32_t, std::vector<int>>> stack = {{0, {}}};
    while (!stack.empty()) {
        auto [offset, path] = stack.back();
        stack.pop_back();
        paths.insert(path);
        for (int32_t o = records[offset / RecordSize].firstChild; o != -1; o = records[o / RecordSize].nextSibling) {
            std::vector<int> longer = path;
            longer.push_back(records[o / RecordSize].move);
            stack.push_back({o, longer});
        }
    }
    return paths;
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// x makes an open three from the other end of firstPlayerWin's: the same
// first two moves, then a new branch.
std::vector<int> branchingWin() { return {at(9, 9), at(4, 15), at(10, 9), at(15, 4), at(8, 9), at(4, 4)}; }

const std::string Psq = "Piskvork 20x20, 0:0, 0\n";
const std::string Experience = "tarvo/experience.bin";

}  // namespace

TEST(EnginesOnOneFile, AStoreOfALaterEngineIsFollowedByAnEarlierOne) {
    TempDir dir;
    runEngine(dir, "db create\nend\n");
    // The early engine opens the file while it holds only the root, answers
    // START, and waits until the other engine has stored a game.
    writeText(dir.file("first.txt"), "START 20\r\n");
    writeText(dir.file("second.txt"),
              "play 9,9\r\nTURN 4,15\r\n" + playLines({at(15, 4), at(8, 9), at(4, 4)}) + "END\r\n");
    const std::string command = "cd '" + dir.path.string() + "' && { cat first.txt; while [ ! -e go ]; do sleep "
                                "0.01; done; cat second.txt; } | timeout 20 '" TARVO_EXE "'";
    std::FILE* early = popen(command.c_str(), "r");
    ASSERT_NE(early, nullptr);
    char line[256];
    ASSERT_NE(std::fgets(line, sizeof line, early), nullptr);
    EXPECT_EQ(std::string(line), "OK\n");

    writeText(dir.file("g1.psq"), recordText(Psq, firstPlayerWin()));
    EXPECT_NE(runEngine(dir, "db add g1.psq\nend\n", "later.txt").find("Saved to DB. (0)"), std::string::npos);
    writeText(dir.file("go"), "");
    const std::string output = readAll(early);
    pclose(early);

    // Followed, recommended (the stored third move of the first player, who
    // won: 10,9 = cell 190) and played; then its own game is stored below the
    // other's.
    EXPECT_TRUE(output.starts_with("MESSAGE databaze: \nMESSAGE {OO,0}, 3 0/0 iter=0 deep=0|5\n"
                                   "MESSAGE databaze: \nMESSAGE {OO,0}, 3 0/0 iter=0 deep=1|4\n"
                                   "MESSAGE Doporuceny: 190\nMESSAGE databaze: \n"
                                   "MESSAGE {OO,0}, 3 0/0 iter=0 deep=2|3\n10,9\n"))
        << output;
    EXPECT_EQ(count(output, "MESSAGE Saved to DB. (0)"), 1u) << output;
    EXPECT_EQ(output.find("Chyba"), std::string::npos) << output;
    const std::vector<NodeRecord> rs = decodeFile(dir.file(Experience));
    EXPECT_TRUE(checkTree(rs).sound()) << checkReport(Experience, checkTree(rs));
    EXPECT_GT(rs.size(), 1u + 6u);  // the second game branches after its second move
}

// The same games imported by two processes at once give the tree that one
// process gives: nothing lost, nothing listed twice.
TEST(EnginesOnOneFile, TwoImportsAtOnceLoseNothing) {
    TempDir together, alone;
    std::mt19937 random(17);
    for (int game = 0; game < 300; ++game) {
        std::vector<int> cells;
        for (int length = 6 + int(random() % 14); int(cells.size()) < length;) {
            const int cell = at(4 + int(random() % 12), 4 + int(random() % 12));
            if (std::find(cells.begin(), cells.end(), cell) == cells.end()) cells.push_back(cell);
        }
        // A few games in both folders: the two imports store some lines twice.
        std::vector<std::string> folders;
        if (game % 10 == 0 || game % 2 == 0) folders.push_back("one");
        if (game % 10 == 0 || game % 2 == 1) folders.push_back("two");
        char name[32];
        std::snprintf(name, sizeof name, "g%d.psq", game);
        for (const TempDir* dir : {&together, &alone})
            for (const std::string& folder : folders) writeText((dir->path / folder / name).string(), recordText(Psq, cells));
    }
    runEngine(together, "db create\nend\n");
    const std::string aloneOutput = runEngine(alone, "db create\ndb add one\ndb add two\nend\n");
    writeText(together.file("one.txt"), "db add one\nend\n");
    writeText(together.file("two.txt"), "db add two\nend\n");
    std::FILE* first = startEngine(together, "one.txt");
    std::FILE* second = startEngine(together, "two.txt");
    ASSERT_TRUE(first && second);
    const std::string outputs = readAll(first) + readAll(second);
    pclose(first);
    pclose(second);
    // Some random games cannot be stored in either folder (their moves lie too
    // far apart for the keys); every other one is stored by both.
    EXPECT_EQ(count(outputs, "Saved to DB."), count(aloneOutput, "Saved to DB.")) << outputs;
    EXPECT_GT(count(outputs, "Saved to DB."), 250u);

    const std::vector<NodeRecord> rs = decodeFile(together.file(Experience));
    const FileCheck check = checkTree(rs);
    EXPECT_TRUE(check.sound()) << checkReport(Experience, check);
    EXPECT_EQ(check.reachable, check.records);
    EXPECT_EQ(pathsOf(rs), pathsOf(decodeFile(alone.file(Experience))));
}

TEST(EnginesOnOneFile, PlayDoesNotWaitLongForABusyFile) {
    TempDir dir;
    runEngine(dir, "db create\nend\n");
    const std::string before = readBytes(dir.file(Experience));
    std::FILE* other = std::fopen(dir.file(Experience).c_str(), "r+b");
    ASSERT_TRUE(platform::lockFile(other, platform::LockMode::Exclusive, 0));
    const std::string output = runEngine(dir, playLines(firstPlayerWin()) + "about\nend\n");
    platform::unlockFile(other);
    std::fclose(other);
    EXPECT_TRUE(output.starts_with("MESSAGE Learning skipped: another process is storing into " + Experience +
                                   "\nname="))
        << output;
    EXPECT_EQ(readBytes(dir.file(Experience)), before);
}

TEST(EnginesOnOneFile, ADamagedFileTurnsLearningOffWithOneLine) {
    TempDir dir;
    writeText(dir.file("g1.psq"), recordText(Psq, firstPlayerWin()));
    writeText(dir.file("g2.psq"), recordText(Psq, secondPlayerWin()));
    runEngine(dir, "db create\ndb add g1.psq\ndb add g2.psq\nend\n");
    // Cut after the first game: the root's second child is gone, its link stays.
    const std::string cut = readBytes(dir.file(Experience)).substr(0, 48 * 8);
    writeText(dir.file(Experience), cut);

    std::vector<int> longer = branchingWin();
    longer.push_back(at(7, 9));
    const std::string output = runEngine(dir, playLines(longer) + "db check\nend\n");
    const std::string damage = "MESSAGE The experience file " + Experience +
                               " is damaged (a link points outside it): nothing is stored into it in this run; "
                               "\"db check\" shows more\n";
    EXPECT_EQ(count(output, damage), 1u) << output;
    EXPECT_EQ(count(output, "MESSAGE databaze: "), 4u) << output;  // followed while the links hold
    EXPECT_EQ(output.find("Saving to DB failed."), std::string::npos) << output;
    EXPECT_NE(output.find("ERROR db check: " + Experience +
                          ": 8 records, 8 reachable, 0 orphans, 0.00% full (room for 44739234 more records): 1 fault: "
                          "the record at 336: firstChild 384 points outside the file\n"),
              std::string::npos)
        << output;
    EXPECT_EQ(readBytes(dir.file(Experience)), cut);
}

TEST(EnginesOnOneFile, FifosAndDevicesAreRefusedNotRead) {
    TempDir dir;
    runEngine(dir, "db create\nend\n");
    ASSERT_EQ(mkfifo(dir.file("pipe.psq").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(dir.file("board.txt").c_str(), 0600), 0);
    std::filesystem::create_directories(dir.path / "games");
    ASSERT_EQ(mkfifo(dir.file("games/a.psq").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir.path / "games/zero.psq");
    writeText(dir.file("games/b.psq"), recordText(Psq, firstPlayerWin()));
    const std::string output = runEngine(dir, "db add pipe.psq\ndb add board.txt\ndb add games\nread board.txt\n"
                                              "read /dev/zero\ndb check\nend\n");
    std::set<std::string> lines;
    for (size_t start = 0, end; (end = output.find('\n', start)) != std::string::npos; start = end + 1)
        lines.insert(output.substr(start, end - start));
    const std::set<std::string> expected = {
        "ERROR pipe.psq is not a regular file; not read",
        "ERROR board.txt is not a regular file; not read",
        "ERROR games/a.psq is not a regular file; not read",
        "ERROR games/zero.psq is not a regular file; not read",
        "DEBUG Partie games/b.psq byla uspesne pridana do baze znalosti.",
        "ERROR The position file board.txt is not a regular file; not read",
        "ERROR The position file /dev/zero is not a regular file; not read",
        "MESSAGE Saved to DB. (0)",
        "MESSAGE db check: " + Experience +
            ": 7 records, 7 reachable, 0 orphans, 0.00% full (room for 44739235 more records): sound",
    };
    EXPECT_EQ(lines, expected) << output;
}

namespace {

// A copy of the engine alone in a folder: nothing beside it is a data folder.
std::string lonelyEngine(const TempDir& dir) {
    const std::filesystem::path exe = dir.path / "bin" / "pbrain-tarvo";
    std::filesystem::create_directories(exe.parent_path());
    std::filesystem::copy_file(TARVO_EXE, exe);
    return exe.string();
}

}  // namespace

// Piskvork and the Gomocup judge start brains in folders of their own and name
// a folder for permanent files: a tournament's second game uses the first.
TEST(EnginesOnOneFile, InfoFolderKeepsTheGamesOfOneBrainForTheNext) {
    const struct {
        const char* name;
        bool workHasDataFolder;
    } cases[] = {{"the folder is used", false}, {"a tarvo found at start-up keeps precedence", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string exe = lonelyEngine(dir);
        const std::filesystem::path permanent = dir.path / "permanent", first = dir.path / "game1",
                                    second = dir.path / "game2";
        for (const auto& folder : {permanent, first, second}) std::filesystem::create_directories(folder);
        if (c.workHasDataFolder)
            for (const auto& folder : {first, second}) std::filesystem::create_directories(folder / "tarvo");
        const std::string folderLine = "INFO folder " + permanent.string() + "\r\n";

        const std::string learned =
            runEngineIn(first, exe, "START 20\r\n" + folderLine + playLines(firstPlayerWin()) + "END\r\n");
        const std::string later = runEngineIn(second, exe, "START 20\r\n" + folderLine + "BEGIN\r\nEND\r\n");
        EXPECT_EQ(learned.find("MESSAGE Saved to DB.") != std::string::npos, !c.workHasDataFolder) << learned;
        EXPECT_EQ(later.find("MESSAGE Doporuceny: 209\n") != std::string::npos, !c.workHasDataFolder) << later;
        EXPECT_EQ(std::filesystem::exists(permanent / "pbrain-tarvo/tarvo/experience.bin"), !c.workHasDataFolder);
        // Nothing is written where the manager starts the brain.
        for (const auto& folder : {first, second}) {
            std::set<std::string> names;
            for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
                names.insert(std::filesystem::relative(entry.path(), folder).string());
            const std::set<std::string> expected =
                c.workHasDataFolder ? std::set<std::string>{"input.txt", "tarvo"} : std::set<std::string>{"input.txt"};
            EXPECT_EQ(names, expected);
        }
    }
}
