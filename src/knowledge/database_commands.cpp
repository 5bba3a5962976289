#include "knowledge/database_commands.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "board/board.h"
#include "board/cell.h"
#include "knowledge/game_records.h"
#include "platform/data_directory.h"
#include "platform/directory.h"

namespace {

std::string exportFileName(int toEnd) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%03d", toEnd);
    return std::string(NodeFilePrefix) + digits + ".bin";
}

void importRecord(ExperienceDatabase& database, const std::string& path, std::ostream& out) {
    const bool isRec = path.find(".rec") != std::string::npos;
    const bool isPsq = path.find(".psq") != std::string::npos;
    if (!isRec && !isPsq) return;
    std::vector<int32_t> moves;
    try {
        if (isRec)
            readRecGame(path, moves);
        else
            readPsqGame(path, moves);
    } catch (...) {
        moves.clear();  // a record that cannot be closed counts as unreadable
    }
    bool saved = false;
    if (!moves.empty()) {
        const int value = judgeGame(moves);
        if (value != Unsuitable) saved = saveGame(database, moves, value, out);
    }
    out << "DEBUG Partie " << path
        << (saved ? " byla uspesne pridana do baze znalosti." : " neni vyhovujici pro pridani do databaze.")
        << std::endl;
}

void importBelow(ExperienceDatabase& database, const std::string& path, std::ostream& out,
                 std::vector<std::filesystem::path>& openDirectories) {
    std::vector<std::string> names;
    if (!platform::listDirectory(path, names)) {
        importRecord(database, path, out);
        return;
    }
    // A link back to a directory that is being imported would never end.
    std::error_code error;
    const std::filesystem::path identity = std::filesystem::canonical(path, error);
    if (!error && std::find(openDirectories.begin(), openDirectories.end(), identity) != openDirectories.end())
        return;
    openDirectories.push_back(identity);
    for (const std::string& name : names)
        if (name != "." && name != "..") importBelow(database, path + "/" + name, out, openDirectories);
    openDirectories.pop_back();
}

// Replays one stored line from the empty board, writing every position but
// the last into the node file of its node's toEnd.
void exportLine(const std::vector<int>& moves, const std::vector<NodeStats>& stats) {
    Board board;
    board.moveCount = 0;
    board.lastMove = -1;
    const size_t length = moves.size();
    for (size_t m = 1; m <= length; ++m) {
        const int cell = moves[m - 1];
        if (cell < 0 || cell >= CellCount || !isEmptyByte(board.cells[cell])) throw DatabaseError{};
        board.makeMove(cell);
        if (m < length && length - m < 400) {
            std::FILE* file = std::fopen(platform::dataPath(exportFileName(stats[m - 1].toEnd)).c_str(), "ab");
            if (!file) continue;  // this one position is lost; the export goes on
            writeBoardImage(board, file);
            std::fclose(file);
        }
    }
}

struct ExportLevel {
    int32_t offset = 0;
    std::vector<int> moves;
    std::vector<NodeStats> stats;
    int next = -1;  // the child to visit next; children go from the last to the first
};

void climbTo(ExperienceDatabase& database, int32_t parent) {
    if (database.current.parent != parent) throw DatabaseError{};
    database.moveTo(parent);
}

}  // namespace

void addGames(ExperienceDatabase& database, const std::string& path, std::ostream& out) {
    std::vector<std::filesystem::path> openDirectories;
    importBelow(database, path, out, openDirectories);
}

void exportPositions(ExperienceDatabase& database) {
    database.moveTo(0);
    if (database.current.firstChild == NoRecord) return;
    std::vector<ExportLevel> levels(1);
    levels[0].next = database.listChildren(levels[0].moves, levels[0].stats) - 1;
    std::vector<int> pathMoves;
    std::vector<NodeStats> pathStats;
    int32_t entered = 0;
    while (!levels.empty()) {
        ExportLevel& top = levels.back();
        if (top.next < 0) {
            levels.pop_back();
            if (levels.empty()) break;
            climbTo(database, levels.back().offset);
            pathMoves.pop_back();
            pathStats.pop_back();
            continue;
        }
        const int i = top.next--;
        const int32_t parent = top.offset;
        // In a sound tree every record is entered once.
        if (++entered > database.recordCount() || !database.descend(top.moves[i])) throw DatabaseError{};
        pathMoves.push_back(top.moves[i]);
        pathStats.push_back(top.stats[i]);
        ExportLevel child;
        child.offset = database.currentOffset;
        const int count = database.listChildren(child.moves, child.stats);
        if (count > 0) {
            child.next = count - 1;
            levels.push_back(std::move(child));
            continue;
        }
        exportLine(pathMoves, pathStats);
        climbTo(database, parent);
        pathMoves.pop_back();
        pathStats.pop_back();
    }
}

void createDatabase(ExperienceDatabase& database, const std::string& path) { database.createFile(path); }
