#include "knowledge/game_records.h"

#include <cctype>
#include <climits>
#include <cstdio>

#include "board/board.h"
#include "board/cell.h"
#include "board/win_test.h"
#include "knowledge/store_reports.h"

namespace {

constexpr NodeStats makeTemplate(int outcome, int proof, int disproof) {
    NodeStats s;
    s.outcome = outcome;
    s.proof = proof;
    s.disproof = disproof;
    return s;
}

constexpr int HeaderLineLength = 254;  // fgets size: 253 characters per read

// A buffer of our own spares the system call that would size one: an import
// reads many small records.
struct RecordBuffer {
    char bytes[4096];
    explicit RecordBuffer(std::FILE* file) { std::setvbuf(file, bytes, _IOFBF, sizeof bytes); }
};

// Reads the rest of the file as "%d,%d,%d" triples until one is incomplete.
class TripleScanner {
public:
    explicit TripleScanner(std::FILE* f) : file(f) {}

    void readMoves(std::vector<int32_t>& moves) {
        int64_t x = 0, y = 0, ignored = 0;
        while (number(x) && comma() && number(y) && comma() && number(ignored)) moves.push_back(cellIndex(x, y));
    }

private:
    std::FILE* file;

    // Like scanf's %d: blanks skipped, an optional sign, at least one digit.
    bool number(int64_t& value) {
        int c = std::fgetc(file);
        while (c != EOF && std::isspace(c)) c = std::fgetc(file);
        bool negative = false;
        if (c == '+' || c == '-') {
            negative = c == '-';
            c = std::fgetc(file);
        }
        if (c == EOF || !std::isdigit(c)) return false;
        value = 0;
        while (c != EOF && std::isdigit(c)) {
            if (value < INT64_MAX / 100) value = value * 10 + (c - '0');
            c = std::fgetc(file);
        }
        if (c != EOF) std::ungetc(c, file);
        if (negative) value = -value;
        return true;
    }

    bool comma() { return std::fgetc(file) == ','; }

    // Coordinates are taken as read; a coordinate or an index that no int can
    // hold becomes -1, which the judge refuses like any other cell off the
    // board (20 times a number of 18 digits would not even fit 64 bits).
    static int32_t cellIndex(int64_t x, int64_t y) {
        if (x < INT32_MIN || x > INT32_MAX || y < INT32_MIN || y > INT32_MAX) return -1;
        const int64_t index = x + int64_t(BoardSize) * y;
        return index < INT32_MIN || index > INT32_MAX ? -1 : int32_t(index);
    }
};

}  // namespace

const std::array<NodeStats, 4> statsTemplates = {
    makeTemplate(3, -1, 0),
    makeTemplate(1, 1, 1),
    makeTemplate(2, 1, 1),
    makeTemplate(0, 0, -1),
};

bool readRecGame(const std::string& path, std::vector<int32_t>& moves) {
    moves.clear();
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (!file) return false;
    RecordBuffer buffer(file);
    char line[HeaderLineLength];
    if (!std::fgets(line, sizeof line, file) || !std::fgets(line, sizeof line, file)) {
        std::fclose(file);
        return false;
    }
    TripleScanner(file).readMoves(moves);
    if (std::fclose(file) != 0) throw DatabaseError{};
    return true;
}

bool readPsqGame(const std::string& path, std::vector<int32_t>& moves) {
    moves.clear();
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (!file) return false;
    RecordBuffer buffer(file);
    char line[HeaderLineLength];
    if (!std::fgets(line, sizeof line, file) || std::string(line).find("20x20") == std::string::npos) {
        std::fclose(file);
        return false;
    }
    TripleScanner(file).readMoves(moves);
    return std::fclose(file) == 0;
}

int judgeGame(std::vector<int32_t>& moves) {
    try {
        bool repeated = false;
        for (size_t i = 1; i < moves.size();) {
            if (moves[i] == moves[i - 1]) {
                moves.erase(moves.begin() + long(i));
                repeated = true;
            } else {
                ++i;
            }
        }
        if (repeated) return Unsuitable;
        Board board;
        int result = Unsuitable;
        for (size_t i = 0; i < moves.size(); ++i) {
            const int cell = moves[i];
            if (cell < 0 || cell >= CellCount) return Unsuitable;
            // The Board needs an empty cell for every move.
            if (!board.isEmpty(cell)) return Unsuitable;
            board.makeMove(cell);
            int v = winTest(board);
            if (i % 2 == 1) v = -v;
            result = v;
            if (v != 0) {
                moves.resize(i + 1);
                return v;
            }
        }
        return result;
    } catch (...) {
        return Unsuitable;
    }
}

Preparation prepareSave(std::vector<int32_t>& moves, int value, std::vector<NodeStats>& stats, int& index,
                        LineCut& cut) {
    const size_t n = moves.size();
    try {
        cut = prepareLine(moves);
        if (cut.refused()) return Preparation::Refused;
        const bool whole = moves.size() == n;
        index = whole ? (value == SecondPlayerWins ? 3 : 0) : (value == SecondPlayerWins ? 2 : 1);
        stats.assign(moves.size(), statsTemplates[index]);
        for (size_t i = 0; i < stats.size(); ++i) stats[i].ply = wrapPly(int32_t(i));
        return Preparation::Ready;
    } catch (...) {
        return Preparation::Failed;
    }
}

bool saveGame(ExperienceDatabase& database, std::vector<int32_t>& moves, int value, std::ostream& out) {
    std::vector<NodeStats> stats;
    int index = 0;
    LineCut cut;
    Preparation outcome = prepareSave(moves, value, stats, index, cut);
    if (outcome == Preparation::Ready) {
        try {
            database.mergeLine(moves, stats);
            out << savedReport(index, cut) << std::flush;
            return true;
        } catch (...) {
            outcome = Preparation::Failed;
        }
    }
    out << refusalReport(database, outcome, cut) << std::flush;
    return false;
}
