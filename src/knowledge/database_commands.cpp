#include "knowledge/database_commands.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "board/board.h"
#include "board/cell.h"
#include "knowledge/file_check.h"
#include "knowledge/game_records.h"
#include "platform/data_directory.h"
#include "platform/directory.h"
#include "platform/file_kind.h"
#include "platform/shared_file.h"

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
    // Opening a FIFO or a device would wait for a writer that never comes.
    if (platform::fileKind(path) == platform::FileKind::Other) {
        out << "ERROR " << path << " is not a regular file; not read" << std::endl;
        return;
    }
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
    const size_t length = moves.size();
    for (size_t m = 1; m <= length; ++m) {
        const int cell = moves[m - 1];
        if (cell < 0 || cell >= CellCount || !board.isEmpty(cell)) throw DatabaseError{};
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
    if (platform::fileKind(path) == platform::FileKind::Other) {
        out << "ERROR " << path << " is not a regular file; not read" << std::endl;
        return;
    }
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
    int32_t records = database.recordCount();  // grows while other processes store
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
        if (++entered > records && entered > (records = database.recordCount())) throw DatabaseError{};
        if (!database.descend(top.moves[i])) throw DatabaseError{};
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

namespace {

constexpr size_t CheckBlock = 4096;  // records read at a time

bool readAllRecords(std::FILE* file, std::vector<NodeRecord>& records, int64_t& tornBytes) {
    std::vector<uint8_t> bytes(CheckBlock * RecordSize);
    size_t pending = 0;
    for (;;) {
        const size_t read = std::fread(bytes.data() + pending, 1, bytes.size() - pending, file);
        pending += read;
        const size_t whole = pending / RecordSize;
        for (size_t i = 0; i < whole; ++i) records.push_back(decodeRecord(bytes.data() + i * RecordSize));
        const size_t rest = pending - whole * RecordSize;
        std::copy(bytes.begin() + long(whole * RecordSize), bytes.begin() + long(pending), bytes.begin());
        pending = rest;
        if (read == 0) break;
    }
    tornBytes = int64_t(pending);
    return !std::ferror(file);
}

}  // namespace

void checkDatabase(const std::string& path, std::ostream& out) {
    if (platform::fileKind(path) != platform::FileKind::Regular) {
        out << "ERROR db check: " << path << " is not a regular file" << std::endl;
        return;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        out << "ERROR db check: " << path << " cannot be opened" << std::endl;
        return;
    }
    // A store that runs meanwhile would show a tree in the middle of a change.
    const bool locked = platform::lockFile(file, platform::LockMode::Shared, OfflineStoreWaitMs);
    std::vector<NodeRecord> records;
    int64_t tornBytes = 0;
    const bool read = readAllRecords(file, records, tornBytes);
    const bool pending = platform::fileKind(pendingStorePath(path)) == platform::FileKind::Regular;
    if (locked) platform::unlockFile(file);
    std::fclose(file);
    if (!read) {
        out << "ERROR db check: " << path << " cannot be read" << std::endl;
        return;
    }
    FileCheck check = checkTree(records);
    check.tornBytes = tornBytes;
    check.storePending = pending;
    out << checkReport(path, check) << std::endl;
}
