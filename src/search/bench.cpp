#include "search/bench.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <vector>

#include "platform/clock.h"
#include "search/static_value.h"
#include "search/negamax.h"

namespace {

// Openings, quiet middle games, forced wins and losses, from 6 to 45 stones.
const std::vector<std::vector<int>> benchPositions = {
    {189, 190, 169, 168, 209, 149},
    {189, 190, 169, 168, 149, 209, 109, 129, 171},
    {189, 190, 169, 209, 228, 230, 188, 210, 170, 248, 208, 227},
    {189, 190, 169, 168, 149, 209, 109, 129, 150, 147, 207, 188, 228, 230, 167},
    {189, 190, 169, 170, 150, 188, 209, 149, 191, 229, 211, 210, 131, 168, 192, 171, 173, 250},
    {189, 190, 169, 149, 170, 171, 209, 152, 229, 249, 208, 133, 114, 227, 207, 210, 166, 187,
     188, 150, 167},
    {189, 190, 169, 149, 168, 171, 208, 152, 209, 210, 150, 228, 170, 114, 133, 151, 131, 188,
     93, 112, 90, 134, 130, 110},
    {189, 190, 169, 149, 170, 151, 168, 171, 148, 209, 152, 228, 247, 167, 231, 147, 188, 208,
     210, 252, 128, 108, 150, 207, 127, 187, 227},
    {189, 190, 169, 149, 130, 170, 191, 150, 148, 151, 129, 152, 153, 209, 133, 210, 230, 228,
     171, 208, 211, 113, 91, 132, 94, 110, 111, 131, 231, 251},
    {189, 190, 169, 168, 209, 149, 249, 229, 208, 207, 227, 246, 206, 248, 170, 151, 267, 130,
     111, 172, 193, 191, 210, 211, 171, 150, 152, 147, 148, 128, 166, 186, 91},
    {189, 190, 169, 168, 149, 129, 170, 151, 209, 229, 191, 212, 128, 107, 188, 167, 207, 226,
     150, 131, 208, 206, 166, 186, 148, 109, 211, 210, 227, 246, 266, 88, 130, 110, 111, 68},
    {189, 190, 169, 149, 209, 188, 229, 249, 168, 170, 150, 191, 212, 211, 210, 107, 128, 147,
     252, 231, 251, 192, 268, 173, 230, 167, 87, 194, 193, 131, 215, 207, 187, 171, 151, 154,
     135, 186, 165},
    {189, 190, 169, 149, 209, 150, 130, 151, 152, 147, 148, 170, 208, 212, 229, 249, 191, 211,
     230, 228, 188, 167, 127, 126, 207, 206, 210, 172, 250, 187, 128, 168, 225, 245, 267, 248,
     269, 270, 307, 288, 133, 308},
    {189, 190, 169, 168, 149, 129, 150, 131, 152, 151, 229, 209, 171, 132, 128, 133, 130, 170,
     113, 208, 188, 135, 134, 207, 210, 186, 205, 92, 226, 247, 165, 228, 266, 249, 270, 286,
     225, 145, 185, 245, 166, 147, 223, 248, 246},
};

std::string report(const char* label, int64_t nodes, double ms) {
    char line[160];
    const double rate = ms > 0 ? nodes * 1000.0 / ms : 0.0;
    std::snprintf(line, sizeof line, "%s: nodes %lld, time %.1f ms, nodes/s %.0f", label,
                  static_cast<long long>(nodes), ms, rate);
    return line;
}

// The turn driver's search with the deadline out of reach, timed; the node
// counter then holds its nodes.
struct TimedSearch {
    int32_t value = 0;
    int32_t best = -1;
    double ms = 0;
};

TimedSearch searchWithoutDeadline(SearchContext& context, Board& board, int depth) {
    using Clock = std::chrono::steady_clock;
    context.moveDeadline = platform::clockAdd(platform::clockMs(), 1 << 30);
    context.nodeCounter = 0;
    TimedSearch result;
    const auto start = Clock::now();
    result.value = search(context, result.best, board, depth, -WinValue);
    result.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return result;
}

}  // namespace

int64_t runBench(std::ostream& out) {
    SearchContext context;
    int64_t totalNodes = 0;
    double totalMs = 0;
    for (size_t i = 0; i < benchPositions.size(); ++i) {
        Board board;
        for (int cell : benchPositions[i]) board.makeMove(cell);
        const TimedSearch result = searchWithoutDeadline(context, board, BenchDepth);
        totalNodes += context.nodeCounter;
        totalMs += result.ms;
        const std::string label = "position " + std::to_string(i + 1);
        out << report(label.c_str(), context.nodeCounter, result.ms) << ", value " << result.value << ", best "
            << result.best << '\n';
    }
    out << report("total", totalNodes, totalMs) << '\n';
    out << "bench: " << totalNodes << " nodes" << std::endl;
    return totalNodes;
}

namespace {

std::string pointText(int cell) { return std::to_string(cellX(cell)) + "," + std::to_string(cellY(cell)); }

// A point "x,y" on the board as a cell index, or -1.
int readPoint(const std::string& word) {
    static const std::regex point("(\\d{1,2}),(\\d{1,2})");
    std::smatch match;
    if (!std::regex_match(word, match, point)) return -1;
    const int x = std::stoi(match[1]), y = std::stoi(match[2]);
    return onBoard(x, y) ? cellAt(x, y) : -1;
}

bool readSetLine(const std::string& line, SetPosition& position, std::string& error) {
    const size_t equals = line.find('=');
    std::istringstream moves(line.substr(0, equals));
    bool played[CellCount] = {};
    for (std::string word; moves >> word;) {
        const int cell = readPoint(word);
        if (cell < 0) {
            error = "'" + word + "' is not a point x,y on the board";
            return false;
        }
        if (played[cell]) {
            error = "point " + word + " is played twice";
            return false;
        }
        played[cell] = true;
        position.moves.push_back(cell);
    }
    if (equals == std::string::npos) return true;
    static const std::regex answer("\\s*(-?\\d+\\|-?\\d+\\|\\d+)\\s+(\\d{1,2},\\d{1,2})\\s*");
    std::smatch match;
    const std::string recorded = line.substr(equals + 1);
    if (!std::regex_match(recorded, match, answer) || readPoint(match[2]) < 0) {
        error = "expected 'value|score|nodes x,y' after '='";
        return false;
    }
    position.expectedLine = match[1];
    position.expectedMove = match[2];
    return true;
}

}  // namespace

bool readPositionSet(const std::string& path, std::vector<SetPosition>& positions, std::string& error) {
    std::ifstream file(path);
    if (!file) {
        error = path + ": cannot be read";
        return false;
    }
    int number = 0;
    for (std::string line; std::getline(file, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos || line[line.find_first_not_of(" \t")] == '#')
            continue;
        SetPosition position;
        std::string problem;
        if (!readSetLine(line, position, problem)) {
            error = path + ":" + std::to_string(number) + ": " + problem;
            return false;
        }
        positions.push_back(std::move(position));
    }
    if (file.bad()) {
        error = path + ": read failed";
        return false;
    }
    return true;
}

SetAnswer searchSetPosition(SearchContext& context, const SetPosition& position, int depth) {
    Board board;
    for (int cell : position.moves) board.makeMove(cell);
    auto copy = copyBoard(board);
    const TimedSearch result = searchWithoutDeadline(context, *copy, depth);
    SetAnswer answer;
    answer.ms = result.ms;
    answer.nodes = context.nodeCounter;
    answer.line = std::to_string(result.value) + "|" + std::to_string(scorePosition(board)) + "|" +
                  std::to_string(context.nodeCounter);
    answer.move = result.best >= 0 && result.best < CellCount ? pointText(result.best) : std::to_string(result.best);
    return answer;
}

int runPositionBench(std::ostream& out, const std::string& path, int depth) {
    std::vector<SetPosition> positions;
    std::string error;
    if (!readPositionSet(path, positions, error)) {
        out << "ERROR " << error << std::endl;
        return -1;
    }
    int64_t totalNodes = 0;
    double totalMs = 0, slowestMs = 0;
    int differing = 0, recorded = 0;
    SearchContext context;
    for (size_t i = 0; i < positions.size(); ++i) {
        const SetPosition& position = positions[i];
        const SetAnswer answer = searchSetPosition(context, position, depth);
        totalNodes += answer.nodes;
        totalMs += answer.ms;
        if (answer.ms > slowestMs) slowestMs = answer.ms;
        const std::string label = "position " + std::to_string(i + 1);
        out << report(label.c_str(), answer.nodes, answer.ms) << ", " << answer.line << " " << answer.move;
        if (!position.expectedLine.empty()) {
            ++recorded;
            const bool same = answer.line == position.expectedLine && answer.move == position.expectedMove;
            if (!same) {
                ++differing;
                out << ", recorded " << position.expectedLine << " " << position.expectedMove << ": DIFFERENT";
            }
        }
        out << std::endl;
    }
    out << report("total", totalNodes, totalMs) << ", slowest " << static_cast<int64_t>(slowestMs + 0.5) << " ms\n";
    out << "depth " << depth << ": " << positions.size() << " positions, " << recorded - differing << " of " << recorded
        << " recorded answers the same" << std::endl;
    return differing;
}
