#include "knowledge/database_commands.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include "board/board.h"
#include "board/board_image.h"
#include "board/cell.h"
#include "board/threat_list.h"
#include "knowledge/file_check.h"
#include "knowledge/game_records.h"
#include "knowledge/store_reports.h"
#include "platform/data_directory.h"
#include "platform/directory.h"
#include "platform/file_kind.h"
#include "platform/shared_file.h"

namespace {

// Game records are read, judged and normalised without the lock, and stored
// many at a time under one hold of it; what the import writes about each
// record comes out in the order of the records, once its store is written.
class Importer {
public:
    Importer(ExperienceDatabase& db, std::ostream& output) : database(db), out(output) {}

    void addRecord(const std::string& path, platform::FileKind kind);
    void addLine(const std::string& line) {
        Item item;
        item.text = line + "\n";
        items.push_back(std::move(item));
    }
    void flush();

private:
    static constexpr size_t BatchRecords = 256;

    struct Item {
        std::string text;  // written as it stands; empty for a record
        std::string path;
        bool judged = false;  // read, and not unsuitable
        Preparation prepared = Preparation::Refused;
        std::vector<int32_t> moves;
        std::vector<NodeStats> stats;
        int index = 0;
        LineCut cut;
        bool staged = false;
        bool saved = false;
    };

    ExperienceDatabase& database;
    std::ostream& out;
    std::vector<Item> items;
    size_t records = 0;

    void store();
};

void Importer::addRecord(const std::string& path, platform::FileKind kind) {
    const bool isRec = path.find(".rec") != std::string::npos;
    const bool isPsq = path.find(".psq") != std::string::npos;
    if (!isRec && !isPsq) return;
    // Opening a FIFO or a device would wait for a writer that never comes.
    if (kind == platform::FileKind::Other) {
        addLine("ERROR " + path + " is not a regular file; not read");
        return;
    }
    Item item;
    item.path = path;
    try {
        if (isRec)
            readRecGame(path, item.moves);
        else
            readPsqGame(path, item.moves);
    } catch (...) {
        item.moves.clear();  // a record that cannot be closed counts as unreadable
    }
    if (!item.moves.empty()) {
        const int value = judgeGame(item.moves);
        item.judged = value != Unsuitable;
        if (item.judged) item.prepared = prepareSave(item.moves, value, item.stats, item.index, item.cut);
    }
    items.push_back(std::move(item));
    if (++records >= BatchRecords) flush();
}

// Each game that is ready tries the lock in turn, as it would alone, until
// one gets it; the rest go under that one hold.
void Importer::store() {
    std::optional<ExperienceDatabase::StoreBatch> batch;
    std::vector<std::string> reports(items.size());
    bool anyStaged = false;
    for (size_t i = 0; i < items.size(); ++i) {
        Item& item = items[i];
        if (!item.text.empty() || !item.judged) continue;
        if (item.prepared != Preparation::Ready) {
            reports[i] = refusalReport(database, item.prepared, item.cut);
            continue;
        }
        try {
            if (!batch || !batch->ready()) {
                batch.reset();
                batch.emplace(database, OfflineStoreWaitMs);
            }
            if (!batch->ready()) throw DatabaseError{};
            database.mergeLine(item.moves, item.stats);
            item.staged = anyStaged = true;
        } catch (...) {
            reports[i] = refusalReport(database, Preparation::Failed, item.cut);
        }
    }
    bool committed = false;
    if (anyStaged) {
        try {
            batch->commit();
            committed = true;
        } catch (...) {
        }
    }
    batch.reset();
    for (size_t i = 0; i < items.size(); ++i) {
        Item& item = items[i];
        if (!item.staged) continue;
        item.saved = committed;
        reports[i] = committed ? savedReport(item.index, item.cut)
                               : refusalReport(database, Preparation::Failed, item.cut);
    }
    for (size_t i = 0; i < items.size(); ++i) items[i].text += reports[i];
}

void Importer::flush() {
    store();
    for (const Item& item : items) {
        out << item.text;
        if (!item.path.empty())
            out << "DEBUG Partie " << item.path
                << (item.saved ? " byla uspesne pridana do baze znalosti."
                               : " neni vyhovujici pro pridani do databaze.")
                << '\n';
    }
    out << std::flush;
    items.clear();
    records = 0;
}

void importBelow(Importer& importer, const std::string& path, platform::FileKind kind,
                 std::vector<std::filesystem::path>& openDirectories) {
    std::vector<std::string> names;
    if (kind != platform::FileKind::Directory || !platform::listDirectory(path, names)) {
        importer.addRecord(path, kind);
        return;
    }
    // A link back to a directory that is being imported would never end.
    std::error_code error;
    const std::filesystem::path identity = std::filesystem::canonical(path, error);
    if (!error && std::find(openDirectories.begin(), openDirectories.end(), identity) != openDirectories.end())
        return;
    openDirectories.push_back(identity);
    for (const std::string& name : names) {
        if (name == "." || name == "..") continue;
        const std::string entry = path + "/" + name;
        importBelow(importer, entry, platform::fileKind(entry), openDirectories);
    }
    openDirectories.pop_back();
}

// The node files as the export appends to them: each one's positions are
// gathered in memory and appended in large pieces, in the order they came.
class NodeFiles {
public:
    void append(int toEnd, const std::string& image) {
        buffers[size_t(toEnd)] += image;
        buffered += image.size();
        if (buffered >= FlushBytes) flush();
    }

    void flush() {
        for (size_t t = 0; t < buffers.size(); ++t) {
            if (buffers[t].empty()) continue;
            // A node file that cannot be opened loses these positions; the export goes on.
            std::FILE* file = std::fopen(platform::dataPath(platform::nodeFilePath(int(t))).c_str(), "ab");
            if (file) {
                std::fwrite(buffers[t].data(), 1, buffers[t].size(), file);
                std::fclose(file);
            }
            buffers[t].clear();
        }
        buffered = 0;
    }

private:
    static constexpr size_t FlushBytes = size_t(64) << 20;
    std::array<std::string, PlyModulus> buffers;
    size_t buffered = 0;
};

// Every stored line as if replayed from the empty board, each position but
// the last written into the node file of its node's toEnd. The positions of
// the beginning that a line shares with the one before are kept, with their
// images: the walk goes depth first, so only the rest is played.
class LineExport {
public:
    LineExport() { boards.push_back(std::make_unique<Board>()); }

    void exportLine(const std::vector<int>& moves, const std::vector<NodeStats>& stats) {
        size_t common = 0;
        while (common < played.size() && common < moves.size() && played[common] == moves[common]) ++common;
        played.resize(common);
        boards.resize(common + 1);
        images.resize(common + 1);
        const size_t length = moves.size();
        for (size_t m = 1; m <= length; ++m) {
            if (m > common) play(moves[m - 1]);
            if (m < length && length - m < 400) files.append(stats[m - 1].toEnd, image(m));
        }
    }

    void flush() { files.flush(); }

private:
    std::vector<std::unique_ptr<Board>> boards;  // after 0, 1, ... moves of `played`
    std::vector<int> played;
    std::vector<std::string> images;  // of boards[m], once written; laying out its lists is part of that
    NodeFiles files;

    void play(int cell) {
        const Board& from = *boards.back();
        if (cell < 0 || cell >= CellCount || !from.isEmpty(cell)) throw DatabaseError{};
        std::unique_ptr<Board> next = copyBoard(from);
        next->makeMove(cell);
        boards.push_back(std::move(next));
        images.emplace_back();
        played.push_back(cell);
    }

    const std::string& image(size_t m) {
        if (images[m].empty()) appendBoardImage(*boards[m], images[m]);
        return images[m];
    }
};

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
    const platform::FileKind kind = platform::fileKind(path);
    if (kind == platform::FileKind::Other) {
        out << "ERROR " << path << " is not a regular file; not read" << std::endl;
        return;
    }
    std::vector<std::filesystem::path> openDirectories;
    const ExperienceDatabase::CacheScope keep(database);
    Importer importer(database, out);
    try {
        importBelow(importer, path, kind, openDirectories);
    } catch (...) {
        importer.flush();
        throw;
    }
    importer.flush();
}

void exportPositions(ExperienceDatabase& database) {
    // The walk reads the whole file: once, from memory.
    const ExperienceDatabase::ReadSnapshot snapshot(database);
    database.moveTo(0);
    if (database.current.firstChild == NoRecord) return;
    std::vector<ExportLevel> levels(1);
    levels[0].next = database.listChildren(levels[0].moves, levels[0].stats) - 1;
    std::vector<int> pathMoves;
    std::vector<NodeStats> pathStats;
    int32_t entered = 0;
    const int32_t records = database.recordCount();
    LineExport positions;
    try {
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
            if (++entered > records) throw DatabaseError{};
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
            positions.exportLine(pathMoves, pathStats);
            climbTo(database, parent);
            pathMoves.pop_back();
            pathStats.pop_back();
        }
    } catch (...) {
        positions.flush();  // what was written before a failure stays written
        throw;
    }
    positions.flush();
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

void checkDatabase(const std::string& path, std::ostream& out, int64_t capacity) {
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
    const bool pending = platform::fileKind(platform::pendingStorePath(path)) == platform::FileKind::Regular;
    if (locked) platform::unlockFile(file);
    std::fclose(file);
    if (!read) {
        out << "ERROR db check: " << path << " cannot be read" << std::endl;
        return;
    }
    FileCheck check = checkTree(records);
    check.tornBytes = tornBytes;
    check.storePending = pending;
    check.capacity = capacity;
    out << checkReport(path, check) << std::endl;
}
