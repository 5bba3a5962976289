#include "knowledge/experience_database.h"

#include <algorithm>
#include <climits>
#include <filesystem>

#include "board/cell.h"
#include "knowledge/file_check.h"
#include "platform/data_directory.h"
#include "platform/directory.h"
#include "platform/file_kind.h"
#include "platform/shared_file.h"

bool consultEnabled = false;
bool learnEnabled = false;

ExperienceDatabase experienceDatabase{ExperienceDatabase::StartUp{}};

bool GameStore::prepareGame(std::vector<int32_t>&) { return true; }

namespace {

bool isEdgeCoordinate(int value) { return value < 3 || value > 16; }
bool nearEdge(int cell) { return isEdgeCoordinate(cellX(cell)) || isEdgeCoordinate(cellY(cell)); }

}  // namespace

// A game is stored from its first move up to its first move near the edge.
bool ExperienceDatabase::prepareGame(std::vector<int32_t>& moves) {
    if (moves.size() < 5) return false;
    if (nearEdge(moves[0])) return false;
    SymmetryFrame gameFrame;
    std::vector<int32_t> keys;
    for (const int32_t move : moves) {
        if (nearEdge(move)) break;
        keys.push_back(normalise(gameFrame, move));
    }
    // Keys do not always tell far-apart offsets apart, so every kept move must
    // come back as the cell it was, in a cut game as in a whole one.
    for (size_t k = 0; k < keys.size(); ++k)
        if (denormalise(gameFrame, keys[k]) != moves[k]) throw DatabaseError{};
    moves = keys;
    return true;
}

ExperienceDatabase::ExperienceDatabase(StartUp) {
    // Also for a database that "db create" makes later in the run.
    platform::ignoreFileSizeSignal();
    const bool opened = open(platform::dataPath(ExperienceFilePath));
    consultEnabled = opened;
    learnEnabled = opened;
}

ExperienceDatabase::~ExperienceDatabase() {
    if (file) std::fclose(file);
}

bool ExperienceDatabase::open(const std::string& path) {
    if (file) {
        std::fclose(file);
        file = nullptr;
    }
    storeDepth = 0;
    checkedRecords = 0;
    damaged = false;
    damageReported = false;
    // A FIFO or a device under the file's name would block or never end.
    if (platform::fileKind(path) != platform::FileKind::Regular) return false;
    file = std::fopen(path.c_str(), "r+b");
    if (!file) return false;
    // Unbuffered: a failed write leaves nothing behind in a buffer that a later
    // seek could still push into the file at the wrong moment, and every read
    // sees what other processes wrote.
    std::setvbuf(file, nullptr, _IONBF, 0);
    platform::ignoreFileSizeSignal();
    filePath = path;
    try {
        readFileSize();
        current = readRecord(0);
        currentOffset = 0;
    } catch (const DatabaseError&) {
        std::fclose(file);
        file = nullptr;
        return false;
    }
    frame = SymmetryFrame{};
    checkLinksAtStart();
    return true;
}

// A large file takes a while to read; start-up has that time, a turn has not.
// The stores then check only what was added since; a file found damaged here
// is reported by the first store it refuses.
void ExperienceDatabase::checkLinksAtStart() {
    constexpr int32_t StartCheckWaitMs = 1000;
    if (!platform::lockFile(file, platform::LockMode::Shared, StartCheckWaitMs)) return;
    try {
        readFileSize();
        damaged = !linksSoundFrom(0);
        if (!damaged) checkedRecords = records;
    } catch (const DatabaseError&) {
        damaged = false;  // unread: the first store reads it all
    }
    platform::unlockFile(file);
}

void ExperienceDatabase::close() {
    if (!file) return;
    const int result = std::fclose(file);
    file = nullptr;
    storeDepth = 0;
    if (result != 0) throw DatabaseError{};
}

NodeRecord emptyTreeRoot() {
    NodeRecord root;
    root.stats.proof = 1;
    root.stats.disproof = 1;
    root.stats.outcome = 2;
    return root;
}

void ExperienceDatabase::createFile(const std::string& path) {
    close();
    const platform::FileKind kind = platform::fileKind(path);
    if (kind != platform::FileKind::Regular && kind != platform::FileKind::Missing) throw DatabaseError{};
    // An existing file is emptied under the lock rather than replaced, so that
    // another process's store is never cut in two.
    std::FILE* fresh = std::fopen(path.c_str(), "r+b");
    if (!fresh) fresh = std::fopen(path.c_str(), "w+b");
    if (!fresh) {
        const std::filesystem::path parent = std::filesystem::path(path).parent_path();
        if (!parent.empty()) platform::makeDirectory(parent.string());
        fresh = std::fopen(path.c_str(), "w+b");
    }
    if (!fresh) throw DatabaseError{};
    std::setvbuf(fresh, nullptr, _IONBF, 0);
    if (!platform::lockFile(fresh, platform::LockMode::Exclusive, OfflineStoreWaitMs)) {
        std::fclose(fresh);
        throw DatabaseError{};
    }
    uint8_t bytes[RecordSize];
    encodeRecord(emptyTreeRoot(), bytes);
    const bool written = platform::truncateFile(fresh, 0) && std::fseek(fresh, 0, SEEK_SET) == 0 &&
                         std::fwrite(bytes, 1, RecordSize, fresh) == RecordSize && std::fflush(fresh) == 0;
    // A store of the old tree must not be finished in the new one.
    if (written) std::remove(pendingStorePath(path).c_str());
    platform::unlockFile(fresh);
    const bool closed = std::fclose(fresh) == 0;
    if (!written || !closed) throw DatabaseError{};
    if (!open(path)) throw DatabaseError{};
}

void ExperienceDatabase::requireOpen() const {
    if (!file) throw DatabaseError{};
}

void ExperienceDatabase::readFileSize() {
    requireOpen();
    if (std::fseek(file, 0, SEEK_END) != 0) throw DatabaseError{};
    const long size = std::ftell(file);
    if (size < 0) throw DatabaseError{};
    // Offsets are 32-bit: whatever lies past their reach is no part of the tree.
    const int64_t reach = int64_t(INT32_MAX / RecordSize) * RecordSize;
    records = int32_t(std::min<int64_t>(size, reach) / RecordSize);
    tornBytes = size < reach ? size % RecordSize : 0;
}

bool ExperienceDatabase::beyondRecords(int64_t count) {
    if (count < records) return false;
    readFileSize();  // another process may have appended since the last look
    return count >= records;
}

int32_t ExperienceDatabase::recordCount() {
    readFileSize();
    return records;
}

void ExperienceDatabase::checkLink(int32_t offset) {
    if (offset < 0 || offset % RecordSize != 0 || beyondRecords(offset / RecordSize)) throw DatabaseError{};
}

NodeRecord ExperienceDatabase::readRecord(int32_t offset) {
    requireOpen();
    checkLink(offset);
    uint8_t bytes[RecordSize];
    if (std::fseek(file, offset, SEEK_SET) != 0) throw DatabaseError{};
    if (std::fread(bytes, 1, RecordSize, file) != RecordSize) throw DatabaseError{};
    return decodeRecord(bytes);
}

void ExperienceDatabase::writeRecord(int32_t offset, const NodeRecord& record) {
    requireOpen();
    checkLink(offset);
    uint8_t bytes[RecordSize];
    encodeRecord(record, bytes);
    if (std::fseek(file, offset, SEEK_SET) != 0) throw DatabaseError{};
    if (std::fwrite(bytes, 1, RecordSize, file) != RecordSize) throw DatabaseError{};
}

int32_t ExperienceDatabase::appendRecord(const NodeRecord& record) {
    requireOpen();
    if (std::fseek(file, 0, SEEK_END) != 0) throw DatabaseError{};
    const long end = std::ftell(file);
    // A torn last record or a file past the reach of 32-bit links takes no more.
    if (end < 0 || end % RecordSize != 0 || end > long(INT32_MAX) - RecordSize) throw DatabaseError{};
    uint8_t bytes[RecordSize];
    encodeRecord(record, bytes);
    const bool written = std::fwrite(bytes, 1, RecordSize, file) == RecordSize && std::fflush(file) == 0;
    if (!written) {
        // A write that stopped short (a full disk, a file-size limit) is cut
        // away at once; if that fails too, the next store cuts it.
        std::clearerr(file);
        platform::truncateFile(file, end);
        throw DatabaseError{};
    }
    records = int32_t(end / RecordSize) + 1;
    tornBytes = 0;
    return int32_t(end);
}

void ExperienceDatabase::flushFile() {
    requireOpen();
    if (std::fflush(file) != 0) throw DatabaseError{};
}

template <class Visit>
void ExperienceDatabase::walkChildren(Visit visit) {
    // Another process may have given the node its first child since it was read.
    current = readRecord(currentOffset);
    int32_t offset = current.firstChild;
    for (int32_t steps = 0; offset != NoRecord; ++steps) {
        if (offset == currentOffset || beyondRecords(steps)) throw DatabaseError{};  // a cycle
        const NodeRecord child = readRecord(offset);
        if (child.parent != currentOffset) throw DatabaseError{};
        if (visit(offset, child)) return;
        offset = child.nextSibling;
    }
}

// A read without the lock can meet a record while another process rewrites
// it, half old and half new; a link torn that way fails the checks. The read
// is made once more under a shared lock, which waits for the writer to end (or,
// if the writer takes too long, once more without it).
template <class Read>
auto ExperienceDatabase::readSteadily(Read read) {
    if (storeDepth > 0) return read();  // the store's own lock keeps writers out
    try {
        return read();
    } catch (const DatabaseError&) {
        requireOpen();
        struct SharedLock {
            std::FILE* file;
            bool held = platform::lockFile(file, platform::LockMode::Shared, ReadRetryWaitMs);
            ~SharedLock() {
                if (held) platform::unlockFile(file);
            }
        } lock{file};
        return read();
    }
}

void ExperienceDatabase::moveTo(int32_t offset) {
    readSteadily([&] {
        current = readRecord(offset);
        currentOffset = offset;
    });
}

void ExperienceDatabase::rewind() {
    frame = SymmetryFrame{};
    moveTo(0);
}

bool ExperienceDatabase::descend(int move) {
    return readSteadily([&] {
        bool found = false;
        walkChildren([&](int32_t offset, const NodeRecord& child) {
            if (child.move != move) return false;
            current = child;
            currentOffset = offset;
            found = true;
            return true;
        });
        return found;
    });
}

int ExperienceDatabase::listChildren(std::vector<int>& moves, std::vector<NodeStats>& stats) {
    return readSteadily([&] {
        moves.clear();
        stats.clear();
        walkChildren([&](int32_t, const NodeRecord& child) {
            moves.push_back(child.move);
            stats.push_back(child.stats);
            return false;
        });
        return int(moves.size());
    });
}

NodeStats ExperienceDatabase::currentStats(int& move) {
    return readSteadily([&] {
        current = readRecord(currentOffset);
        move = current.move;
        return current.stats;
    });
}

namespace {

// How well a child's line went for the side to move, best first: a whole game
// it won, then a cut one it won; -1 for a line it lost or nobody won, which
// is never replayed.
int winRank(const NodeStats& s, bool secondToMove) {
    if (s.outcome == (secondToMove ? WholeSecondWins : WholeFirstWins)) return 0;
    if (s.outcome == (secondToMove ? CutSecondWins : CutFirstWins)) return 1;
    return -1;
}

// The counts hold the second player's wins only: the first player wants few.
int64_t winsBelow(const NodeStats& s, bool secondToMove) {
    const int64_t secondWins = int64_t(s.secondWinsWhole) + s.secondWinsCut;
    return secondToMove ? secondWins : -secondWins;
}

// Won lines before cut ones, then the shortest, then the most games won below;
// the earlier child on a full tie.
bool betterReply(const NodeStats& a, const NodeStats& b, bool secondToMove) {
    const int rankA = winRank(a, secondToMove), rankB = winRank(b, secondToMove);
    if (rankA != rankB) return rankA < rankB;
    if (a.toEnd != b.toEnd) return a.toEnd < b.toEnd;
    return winsBelow(a, secondToMove) > winsBelow(b, secondToMove);
}

}  // namespace

bool ExperienceDatabase::recommend(bool secondToMove, int& move) {
    std::vector<int> moves;
    std::vector<NodeStats> stats;
    const int count = listChildren(moves, stats);
    if (currentOffset == 0 && count > 0) {
        move = moves[0];
        return true;
    }
    int best = -1;
    for (int i = 0; i < count; ++i) {
        if (winRank(stats[i], secondToMove) < 0) continue;
        if (best < 0 || betterReply(stats[i], stats[best], secondToMove)) best = i;
    }
    if (best < 0) return false;
    move = moves[best];
    return true;
}

std::vector<Continuation> ExperienceDatabase::continuations(int32_t readBudget) {
    std::vector<Continuation> children;
    std::vector<int32_t> firstGrandchild;
    readSteadily([&] {
        children.clear();
        firstGrandchild.clear();
        walkChildren([&](int32_t, const NodeRecord& child) {
            Continuation c;
            c.move = child.move;
            c.stats = child.stats;
            children.push_back(c);
            firstGrandchild.push_back(child.firstChild);
            return false;
        });
    });
    // Each stored line ends in a node without children. The budget also ends
    // a walk that a damaged file would send round in circles.
    std::vector<int32_t> chains;
    for (size_t i = 0; i < children.size(); ++i) {
        Continuation& c = children[i];
        if (firstGrandchild[i] == NoRecord) {
            c.gamesByClass[c.stats.outcome & 3] = 1;
            continue;
        }
        chains.assign(1, firstGrandchild[i]);
        while (!chains.empty() && readBudget > 0) {
            int32_t offset = chains.back();
            chains.pop_back();
            while (offset != NoRecord && readBudget > 0) {
                const NodeRecord node = readRecord(offset);
                --readBudget;
                if (node.firstChild == NoRecord)
                    ++c.gamesByClass[node.stats.outcome & 3];
                else
                    chains.push_back(node.firstChild);
                offset = node.nextSibling;
            }
            if (offset != NoRecord) chains.push_back(offset);
        }
        c.counted = chains.empty();
    }
    return children;
}

void ExperienceDatabase::showCurrentNode(std::ostream& out) {
    int move = 0;
    const NodeStats stats = currentStats(move);
    if (current.firstChild == NoRecord) return;
    out << "MESSAGE databaze: " << std::endl;
    out << "MESSAGE " << statsLine(stats) << std::endl;
}

bool ExperienceDatabase::findOrAppendChild(int move, const NodeStats& stats) {
    requireOpen();
    if (move < 0 || move >= CellCount) throw DatabaseError{};
    const StoreLock lock(*this, OfflineStoreWaitMs);
    if (!lock.ready()) throw DatabaseError{};
    current = readRecord(currentOffset);  // what it was before the lock is no guide
    int32_t previous = currentOffset;
    int32_t offset = current.firstChild;
    for (int32_t steps = 0; offset != NoRecord; ++steps) {
        if (offset == currentOffset || beyondRecords(steps)) throw DatabaseError{};
        flushFile();
        const NodeRecord child = readRecord(offset);
        if (child.parent != currentOffset) throw DatabaseError{};
        if (child.move == move) {
            current = child;
            currentOffset = offset;
            return true;
        }
        previous = offset;
        offset = child.nextSibling;
    }
    NodeRecord fresh;
    fresh.move = int16_t(move);
    fresh.parent = currentOffset;
    fresh.stats = stats;
    const int32_t at = appendRecord(fresh);
    if (previous == currentOffset) {
        current.firstChild = at;
    } else {
        moveTo(previous);
        current.nextSibling = at;
    }
    writeRecord(currentOffset, current);
    current = fresh;
    currentOffset = at;
    flushFile();
    return false;
}

namespace {

int32_t addCount(int32_t a, int32_t b) {
    const int64_t sum = int64_t(a) + b;
    return int32_t(std::clamp<int64_t>(sum, INT32_MIN, INT32_MAX));
}

}  // namespace

void combineStats(NodeStats& a, const NodeStats& child) {
    a.secondWinsCut = addCount(a.secondWinsCut, child.secondWinsCut);
    a.secondWinsWhole = addCount(a.secondWinsWhole, child.secondWinsWhole);
    // Odd ply: the children are the second player's moves, who wants low classes.
    const bool secondChooses = a.ply % 2 == 1;
    const bool better = secondChooses ? child.outcome < a.outcome : child.outcome > a.outcome;
    const bool toEndWins = secondChooses ? child.toEnd < a.toEnd : child.toEnd > a.toEnd;
    if (better) {
        a.outcome = child.outcome;
        a.toEnd = child.toEnd;
    } else if (child.outcome == a.outcome && toEndWins) {
        a.toEnd = child.toEnd;
    }
}

namespace {

bool validLine(const std::vector<int32_t>& moves, const std::vector<NodeStats>& stats) {
    if (moves.empty() || moves.size() != stats.size() || moves[0] != NormalisedFirstMove) return false;
    return std::all_of(moves.begin(), moves.end(), [](int32_t move) { return move >= 0 && move < CellCount; });
}

// The pending-store file: a header record (nextSibling the line's length,
// firstChild PendingMagic) and one record per move holding its move and stats.
constexpr int32_t PendingMagic = 0x76726154;
constexpr size_t PendingMaxMoves = 1024;

}  // namespace

std::string pendingStorePath(const std::string& experiencePath) { return experiencePath + ".pending"; }

void ExperienceDatabase::mergeLine(const std::vector<int32_t>& moves, const std::vector<NodeStats>& stats) {
    requireOpen();
    if (!validLine(moves, stats)) throw DatabaseError{};
    refusedForSize = false;
    const StoreLock lock(*this, OfflineStoreWaitMs);
    if (!lock.ready()) throw DatabaseError{};
    refusePastSizeLimit(moves.size());
    markPendingStore(moves, stats);
    storeLine(moves, stats);
    removePendingStore();
}

// Counted as if every move of the line were new: the size is known before
// anything is read or written.
void ExperienceDatabase::refusePastSizeLimit(size_t moves) {
    if (sizeLimit <= 0 || (int64_t(records) + int64_t(moves)) * RecordSize <= sizeLimit) return;
    refusedForSize = true;
    throw DatabaseError{};
}

std::string ExperienceDatabase::sizeLimitReport() const {
    if (!refusedForSize) return "";
    return "MESSAGE The experience file " + filePath + " would pass its cap of " + std::to_string(sizeLimit) +
           " bytes: the game is not stored, and nothing more is learned in this run";
}

void ExperienceDatabase::storeLine(const std::vector<int32_t>& moves, const std::vector<NodeStats>& stats) {
    const int32_t remembered = currentOffset;
    moveTo(0);
    for (size_t i = 0; i < moves.size(); ++i) findOrAppendChild(moves[i], stats[i]);

    int move = 0;
    currentStats(move);
    current.stats.toEnd = 0;
    if (current.stats.outcome == 0)
        current.stats.secondWinsWhole = 1;
    else if (current.stats.outcome == 2)
        current.stats.secondWinsCut = 1;
    writeRecord(currentOffset, current);

    std::vector<int> childMoves;
    std::vector<NodeStats> childStats;
    for (int32_t steps = 0; current.parent != NoRecord; ++steps) {
        if (beyondRecords(steps)) throw DatabaseError{};  // a cycle in the parent chain
        moveTo(current.parent);
        if (listChildren(childMoves, childStats) == 0) throw DatabaseError{};
        NodeStats a = childStats[0];
        for (size_t k = 1; k < childStats.size(); ++k) combineStats(a, childStats[k]);
        currentStats(move);
        current.stats.secondWinsCut = a.secondWinsCut;
        current.stats.secondWinsWhole = a.secondWinsWhole;
        current.stats.outcome = a.outcome;
        current.stats.ply = wrapPly(a.ply - 1);
        current.stats.toEnd = wrapPly(a.toEnd + 1);
        writeRecord(currentOffset, current);
    }
    moveTo(remembered);
}

ExperienceDatabase::StoreStart ExperienceDatabase::beginStore(int32_t waitMs) {
    requireOpen();
    if (storeDepth > 0) {
        ++storeDepth;
        return StoreStart::Ready;
    }
    if (damaged) return StoreStart::Damaged;
    if (!platform::lockFile(file, platform::LockMode::Exclusive, waitMs)) return StoreStart::Busy;
    storeDepth = 1;
    try {
        readFileSize();
        if (records < checkedRecords) checkedRecords = 0;  // cut or created anew since: check it all
        if (!linksSoundFrom(checkedRecords)) {
            damaged = true;
            endStore();
            return StoreStart::Damaged;
        }
        checkedRecords = records;
        // Nothing links to a record that was never written whole.
        if (tornBytes > 0) {
            if (!platform::truncateFile(file, int64_t(records) * RecordSize)) throw DatabaseError{};
            tornBytes = 0;
        }
        finishPendingStore();
    } catch (...) {
        endStore();
        throw;
    }
    return StoreStart::Ready;
}

void ExperienceDatabase::endStore() {
    if (storeDepth == 0 || --storeDepth > 0) return;
    if (!file) return;
    std::fflush(file);
    platform::unlockFile(file);
}

// Reads the file in large blocks: the first store of a process reads it all.
bool ExperienceDatabase::linksSoundFrom(int32_t first) {
    if (records == 0) return false;
    constexpr int32_t Block = 1024;
    std::vector<uint8_t> bytes(size_t(Block) * RecordSize);
    for (int32_t at = first; at < records; at += Block) {
        const int32_t count = std::min(Block, records - at);
        if (std::fseek(file, long(at) * RecordSize, SEEK_SET) != 0) throw DatabaseError{};
        if (std::fread(bytes.data(), RecordSize, size_t(count), file) != size_t(count)) throw DatabaseError{};
        for (int32_t i = 0; i < count; ++i)
            if (!linksAreValid(decodeRecord(bytes.data() + size_t(i) * RecordSize), records)) return false;
    }
    return true;
}

void ExperienceDatabase::markPendingStore(const std::vector<int32_t>& moves, const std::vector<NodeStats>& stats) {
    requireOpen();
    if (!validLine(moves, stats) || moves.size() > PendingMaxMoves) throw DatabaseError{};
    const std::string path = pendingStorePath(filePath);
    const platform::FileKind kind = platform::fileKind(path);
    if (kind != platform::FileKind::Regular && kind != platform::FileKind::Missing) throw DatabaseError{};
    std::vector<uint8_t> bytes((moves.size() + 1) * RecordSize);
    NodeRecord header;
    header.nextSibling = int32_t(moves.size());
    header.firstChild = PendingMagic;
    encodeRecord(header, bytes.data());
    for (size_t i = 0; i < moves.size(); ++i) {
        NodeRecord r;
        r.move = int16_t(moves[i]);
        r.stats = stats[i];
        encodeRecord(r, bytes.data() + (i + 1) * RecordSize);
    }
    std::FILE* marker = std::fopen(path.c_str(), "wb");
    if (!marker) throw DatabaseError{};
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), marker) == bytes.size();
    const bool closed = std::fclose(marker) == 0;
    if (!written || !closed) {
        // Nothing of the line is stored yet: no marker is better than a torn one.
        removePendingStore();
        throw DatabaseError{};
    }
}

void ExperienceDatabase::removePendingStore() { std::remove(pendingStorePath(filePath).c_str()); }

// A marker that does not hold a whole line was cut short before its store
// wrote anything, and is dropped.
void ExperienceDatabase::finishPendingStore() {
    const std::string path = pendingStorePath(filePath);
    if (platform::fileKind(path) != platform::FileKind::Regular) return;
    std::FILE* marker = std::fopen(path.c_str(), "rb");
    if (!marker) return;
    std::vector<uint8_t> bytes((PendingMaxMoves + 2) * RecordSize);
    const size_t size = std::fread(bytes.data(), 1, bytes.size(), marker);
    std::fclose(marker);
    std::vector<int32_t> moves;
    std::vector<NodeStats> stats;
    if (size >= 2 * RecordSize && size % RecordSize == 0) {
        const NodeRecord header = decodeRecord(bytes.data());
        if (header.firstChild == PendingMagic && size_t(header.nextSibling) == size / RecordSize - 1) {
            for (size_t i = 1; i < size / RecordSize; ++i) {
                const NodeRecord r = decodeRecord(bytes.data() + i * RecordSize);
                moves.push_back(r.move);
                stats.push_back(r.stats);
            }
        }
    }
    if (validLine(moves, stats)) storeLine(moves, stats);
    removePendingStore();
}

std::string ExperienceDatabase::damageReport() {
    if (!damaged || damageReported) return "";
    damageReported = true;
    return "MESSAGE The experience file " + filePath +
           " is damaged (a link points outside it): nothing is stored into it in this run; \"db check\" shows more";
}
