#pragma once
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "board/cell.h"
#include "knowledge/node_record.h"

namespace knowledge_test {

// A fresh directory, removed with everything in it at the end of the test.
struct TempDir {
    std::filesystem::path path;
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tarvo_kb_XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        path = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string file(const std::string& name) const { return (path / name).string(); }
};

// Runs the test inside a directory, since the data lives below the cwd.
struct ScopedCwd {
    std::filesystem::path previous = std::filesystem::current_path();
    explicit ScopedCwd(const std::filesystem::path& to) { std::filesystem::current_path(to); }
    ~ScopedCwd() { std::filesystem::current_path(previous); }
};

inline void writeText(const std::string& path, const std::string& text) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent);
    std::ofstream(path, std::ios::binary) << text;
}

// Runs an engine executable in workDir on the given input; what it wrote.
inline std::string runEngineIn(const std::filesystem::path& workDir, const std::string& exe, const std::string& input) {
    writeText((workDir / "input.txt").string(), input);
    const std::string command = "cd '" + workDir.string() + "' && '" + exe + "' < input.txt";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return "popen failed";
    std::string output;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    pclose(pipe);
    return output;
}

inline std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::vector<NodeRecord> decodeFile(const std::string& path) {
    const std::string bytes = readBytes(path);
    std::vector<NodeRecord> records;
    for (size_t at = 0; at + RecordSize <= bytes.size(); at += RecordSize)
        records.push_back(decodeRecord(reinterpret_cast<const uint8_t*>(bytes.data() + at)));
    return records;
}

inline void writeRecords(const std::string& path, const std::vector<NodeRecord>& records) {
    std::string bytes;
    for (const NodeRecord& r : records) {
        uint8_t encoded[RecordSize];
        encodeRecord(r, encoded);
        bytes.append(reinterpret_cast<const char*>(encoded), RecordSize);
    }
    writeText(path, bytes);
}

inline NodeRecord makeRecord(int move, int next, int first, int parent, int outcome = 0, int toEnd = 0) {
    NodeRecord r;
    r.move = int16_t(move);
    r.nextSibling = next;
    r.firstChild = first;
    r.parent = parent;
    r.stats.outcome = outcome;
    r.stats.toEnd = toEnd;
    return r;
}

// The root createDatabase writes.
inline NodeRecord freshRoot() {
    NodeRecord root = makeRecord(-1, -1, -1, -1, 2);
    root.stats.proof = 1;
    root.stats.disproof = 1;
    return root;
}

inline int at(int x, int y) { return cellAt(x, y); }

// A game record in the "%d,%d,%d" form, after the given header lines.
inline std::string recordText(const std::string& header, const std::vector<int>& moves) {
    std::string text = header;
    for (size_t i = 0; i < moves.size(); ++i)
        text += std::to_string(cellX(moves[i])) + "," + std::to_string(cellY(moves[i])) + "," +
                std::to_string(i + 1) + "\n";
    return text;
}

// x builds an open three in row 9 while o plays far apart: once o has answered
// the third stone, x to move wins. Decided by the sixth move, for the first player.
inline std::vector<int> firstPlayerWin() {
    return {at(9, 9), at(4, 15), at(10, 9), at(15, 4), at(11, 9), at(4, 4)};
}

// The mirror case: o builds the three and x, to move, is lost after its fourth
// stone. Decided by the seventh move, for the second player.
inline std::vector<int> secondPlayerWin() {
    return {at(7, 12), at(9, 9), at(11, 12), at(10, 9), at(7, 6), at(11, 9), at(12, 6)};
}

}  // namespace knowledge_test

namespace knowledge_test {

// Every link of the file points at a whole record, every record but the root
// sits exactly once in its parent's chain, and siblings have distinct moves.
inline ::testing::AssertionResult treeIsSound(const std::vector<NodeRecord>& records) {
    const int n = int(records.size());
    auto valid = [&](int32_t offset) { return offset >= 0 && offset % RecordSize == 0 && offset / RecordSize < n; };
    if (n == 0 || records[0].parent != -1 || records[0].move != -1) return ::testing::AssertionFailure() << "no root";
    std::vector<int> seen(n, 0);
    for (int i = 0; i < n; ++i) {
        std::vector<int> moves;
        int guard = 0;
        for (int32_t o = records[i].firstChild; o != -1; o = records[o / RecordSize].nextSibling) {
            if (!valid(o) || ++guard > n) return ::testing::AssertionFailure() << "bad chain below record " << i;
            const NodeRecord& child = records[o / RecordSize];
            if (child.parent != i * RecordSize) return ::testing::AssertionFailure() << "parent of " << o;
            for (const int m : moves)
                if (m == child.move) return ::testing::AssertionFailure() << "two children with move " << m;
            moves.push_back(child.move);
            seen[o / RecordSize] += 1;
        }
    }
    for (int i = 1; i < n; ++i)
        if (seen[i] != 1) return ::testing::AssertionFailure() << "record " << i << " linked " << seen[i] << " times";
    return ::testing::AssertionSuccess();
}

}  // namespace knowledge_test
