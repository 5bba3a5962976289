#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "protocol/command_loop.h"

namespace {

namespace fs = std::filesystem;

// Searches get almost no time: a budget of min(100, 600 / 6) - 200 ms ends
// every search at its root.
const std::string QuickClock = "INFO timeout_turn 100\r\nINFO time_left 600\n";

constexpr auto RunLimit = std::chrono::seconds(20);

struct EngineRun {
    bool finished = false;  // false: killed after RunLimit
    int status = 0;
    std::string output;
    std::string errors;
};

std::string fileText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The real executable in a fresh working directory, its input from a file.
EngineRun runEngineProcess(const std::string& input) {
    char pattern[] = "/tmp/tarvo_fuzz_XXXXXX";
    const fs::path dir = mkdtemp(pattern);
    const fs::path inputPath = dir / "input.txt", outputPath = dir / "output.txt",
                   errorPath = dir / "errors.txt";
    std::ofstream(inputPath, std::ios::binary) << input;

    EngineRun run;
    const pid_t child = fork();
    if (child == 0) {
        const int in = open(inputPath.c_str(), O_RDONLY);
        const int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || chdir(dir.c_str()) != 0) _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execl(TARVO_EXE, TARVO_EXE, static_cast<char*>(nullptr));
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + RunLimit;
    while (child > 0) {
        const pid_t done = waitpid(child, &run.status, WNOHANG);
        if (done == child) {
            run.finished = true;
            break;
        }
        if (done < 0 || std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &run.status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    run.output = fileText(outputPath);
    run.errors = fileText(errorPath);
    fs::remove_all(dir);
    return run;
}

bool isNumber(const std::string& text, size_t from = 0) {
    if (from < text.size() && text[from] == '-') ++from;
    if (from == text.size() || text.size() - from > 11) return false;
    for (size_t i = from; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

bool isMove(const std::string& line) {
    const size_t comma = line.find(',');
    if (comma == std::string::npos || comma == 0 || comma > 2 || line.size() - comma > 3) return false;
    const std::string x = line.substr(0, comma), y = line.substr(comma + 1);
    return isNumber(x) && isNumber(y) && x[0] != '-' && y[0] != '-' && std::stoi(x) < 20 &&
           std::stoi(y) < 20;
}

bool isWellFormed(const std::string& line) {
    for (const char c : line)
        if (c < 0x20 || c > 0x7e) return false;
    static const std::string prefixes[] = {"MESSAGE ", "DEBUG ", "ERROR ", "name=\"pbrain-tarvo\""};
    for (const auto& prefix : prefixes)
        if (line.starts_with(prefix)) return true;
    static const std::string bare[] = {
        "OK", "Done", "This operation can take several minutes, please wait...",
        "This operation can take several minutes or hours, please wait...",
        std::string(30, '*')};
    for (const auto& text : bare)
        if (line == text) return true;
    return isMove(line) || isNumber(line);
}

// Exit 0, no signal, no hang, and nothing but whole well-formed lines.
void expectSoundRun(const std::string& input, const std::string& label) {
    const EngineRun run = runEngineProcess(input);
    ASSERT_TRUE(run.finished) << label << ": still running after the time limit";
    ASSERT_TRUE(WIFEXITED(run.status)) << label << ": ended by signal "
                                       << (WIFSIGNALED(run.status) ? WTERMSIG(run.status) : 0)
                                       << "\n" << run.errors;
    EXPECT_EQ(WEXITSTATUS(run.status), 0) << label << "\n" << run.errors;
    if (!run.output.empty()) {
        EXPECT_EQ(run.output.back(), '\n') << label;
    }
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(isWellFormed(line)) << label << ": line \"" << line << "\"";
}

// std::mt19937's raw output is fixed by the standard; the distributions are not.
struct Dice {
    std::mt19937 engine;
    explicit Dice(uint32_t seed) : engine(seed) {}
    uint32_t below(uint32_t n) { return engine() % n; }
};

std::string randomCase(Dice& dice, std::string word) {
    for (char& c : word)
        if (dice.below(2) && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return word;
}

// Protocol-shaped noise. "db", "stats" and "problem" stay out: they reach the
// file system or run several searches, and have their own cases below.
std::string tokenSoup(Dice& dice, int tokens) {
    static const char* const words[] = {"0move", "in", "best", "turn", "zturn", "moveback",
                                        "info", "start", "begin", "board", "play", "about",
                                        "read", "print", "done", "max_memory", "rule",
                                        "folder", "turns", "x", "o", "-", "plocha.dat"};
    static const char* const separators[] = {" ", "  ", "\n", "\r\n", "\r", "\t", ",", ";", ""};
    static const char* const numbers[] = {"0", "9", "19", "20", "-1", "189", "399", "400",
                                          "2147483647", "2147483648", "99999999999999999999",
                                          "-2147483649", "+7", "-"};
    std::string text;
    for (int i = 0; i < tokens; ++i) {
        const uint32_t kind = dice.below(10);
        if (kind < 5)
            text += randomCase(dice, words[dice.below(std::size(words))]);
        else if (kind < 8)
            text += numbers[dice.below(std::size(numbers))];
        else if (kind < 9)
            text += std::string(1 + dice.below(3), static_cast<char>(dice.below(256)));
        else if (dice.below(8) == 0)
            text += std::string(1024 + dice.below(2000), static_cast<char>('a' + dice.below(26)));
        else
            text += std::to_string(dice.below(20)) + "," + std::to_string(dice.below(20));
        text += separators[dice.below(std::size(separators))];
    }
    return text;
}

TEST(ProtocolFuzz, HarnessSeesTheEnginesLines) {
    const EngineRun run = runEngineProcess(std::string(3000, 'w') + "\r\nabout\r\nend\r\nabout\n");
    ASSERT_TRUE(run.finished);
    ASSERT_TRUE(WIFEXITED(run.status));
    EXPECT_EQ(WEXITSTATUS(run.status), 0);
    EXPECT_EQ(run.output, "ERROR Unknown Command!\n" + std::string(AboutLine) + "\n");
    for (const char* bad : {"OK ", "10,20", "ERROR", "Done.", "1,2,3", "\x01"})
        EXPECT_FALSE(isWellFormed(bad)) << bad;
}

TEST(ProtocolFuzz, RandomBytes) {
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        Dice dice(seed);
        std::string bytes(500 + dice.below(3000), '\0');
        for (char& c : bytes) c = static_cast<char>(dice.below(256));
        expectSoundRun(QuickClock + bytes, "random bytes, seed " + std::to_string(seed));
    }
}

TEST(ProtocolFuzz, ProtocolShapedNoise) {
    for (uint32_t seed = 100; seed < 140; ++seed) {
        Dice dice(seed);
        std::string input = QuickClock + tokenSoup(dice, 40 + static_cast<int>(dice.below(200)));
        input.resize(input.size() - dice.below(std::min<size_t>(input.size() - QuickClock.size(), 8)));
        expectSoundRun(input, "token soup, seed " + std::to_string(seed));
    }
}

TEST(ProtocolFuzz, OverlongAndTruncatedCommands) {
    const std::string longWord(5000, 'w');
    const std::string cases[] = {
        longWord,
        longWord + "\r\nabout\r\nend\r\n",
        "info " + longWord + " " + longWord + "\nabout\n",
        "read " + longWord + "\nprint\n",
        "db " + longWord + "\ndb add " + longWord + "\ndb import\nend\n",
        "start", "start ", "start 2", "turn", "turn 10", "turn 10,", "play 3 , ",
        "zturn", "in", "info", "info time_left", "board\n1,1,1\n2,2", "board", "read",
        "db", "db add", "problem", "problem 1\nend\n",
        std::string("turn\0 1,1\n", 10), "\r\n\r\n\r\n", "play 9,9\nplay 9,9\nzturn 400\nin z\nend\n",
        "START 20\r\nBEGIN\r\nTURN 10,10\r\nBOARD\r\n10,10,1\r\n11,11,2\r\nDONE\r\nEND\r\n",
    };
    for (const auto& input : cases) expectSoundRun(QuickClock + input, input.substr(0, 50));
}

}  // namespace
