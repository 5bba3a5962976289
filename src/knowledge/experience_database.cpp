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
    full = false;
    cache.clear();
    cacheActive = false;
    cacheStamp = 0;
    snapshotDepth = 0;
    staging = batchOpen = false;
    stagedLines.clear();
    // A FIFO or a device under the file's name would block or never end.
    if (platform::fileKind(path) != platform::FileKind::Regular) return false;
    file = std::fopen(path.c_str(), "r+b");
    if (!file) return false;
    // Unbuffered, and read and written past the stream at offsets: every read
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
    cache.clear();
    cacheActive = false;
    snapshotDepth = 0;
    if (result != 0) throw DatabaseError{};
}

namespace {

// Beside the experience file: a count of the stores that every store raises
// under the lock before it writes anything. The same count on the next store
// of a process means that no other process wrote in between.
std::string storeStampPath(const std::string& experiencePath) { return experiencePath + ".stamp"; }

std::FILE* openStamp(const std::string& experiencePath, bool create) {
    const std::string path = storeStampPath(experiencePath);
    const platform::FileKind kind = platform::fileKind(path);
    if (kind != platform::FileKind::Regular && !(create && kind == platform::FileKind::Missing)) return nullptr;
    std::FILE* stamp = std::fopen(path.c_str(), "r+b");
    if (!stamp && create && kind == platform::FileKind::Missing) stamp = std::fopen(path.c_str(), "w+b");
    if (stamp) std::setvbuf(stamp, nullptr, _IONBF, 0);
    return stamp;
}

uint64_t stampValue(std::FILE* stamp) {
    uint8_t bytes[8];
    if (!platform::readAt(stamp, 0, bytes, sizeof bytes)) return 0;
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value |= uint64_t(bytes[i]) << (8 * i);
    return value;
}

bool writeStampValue(std::FILE* stamp, uint64_t value) {
    uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = uint8_t(value >> (8 * i));
    return platform::writeAt(stamp, 0, bytes, sizeof bytes);
}

// The stamp as it stands, raised by one; 0 when there is no stamp to raise.
uint64_t raiseStamp(const std::string& experiencePath, uint64_t& before) {
    std::FILE* stamp = openStamp(experiencePath, true);
    before = 0;
    if (!stamp) return 0;
    before = stampValue(stamp);
    uint64_t after = before + 1;
    if (after == 0) after = 1;
    if (!writeStampValue(stamp, after)) after = 0;
    if (std::fclose(stamp) != 0) after = 0;
    return after;
}

// 0 when there is no stamp.
uint64_t peekStamp(const std::string& experiencePath) {
    std::FILE* stamp = openStamp(experiencePath, false);
    if (!stamp) return 0;
    const uint64_t value = stampValue(stamp);
    std::fclose(stamp);
    return value;
}

}  // namespace

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
    const bool written = platform::truncateFile(fresh, 0) && platform::writeAt(fresh, 0, bytes, RecordSize);
    // A store of the old tree must not be finished in the new one, and no
    // process may go on trusting what it knew of the old one.
    if (written) {
        std::remove(pendingStorePath(path).c_str());
        uint64_t before = 0;
        raiseStamp(path, before);
    }
    platform::unlockFile(fresh);
    const bool closed = std::fclose(fresh) == 0;
    if (!written || !closed) throw DatabaseError{};
    if (!open(path)) throw DatabaseError{};
}

void ExperienceDatabase::requireOpen() const {
    if (!file) throw DatabaseError{};
}

// In a store or a snapshot the cache knows every record there is.
void ExperienceDatabase::readFileSize() {
    requireOpen();
    if (!cacheActive) readFileSizeNow();
}

void ExperienceDatabase::readFileSizeNow() {
    const int64_t size = platform::fileSize(file);
    if (size < 0) throw DatabaseError{};
    // Offsets are 32-bit: whatever lies past their reach is no part of the tree.
    records = int32_t(std::min<int64_t>(size, MaxFileBytes) / RecordSize);
    tornBytes = size < MaxFileBytes ? size % RecordSize : 0;
}

bool ExperienceDatabase::beyondRecords(int64_t count) {
    if (count < records) return false;
    if (cacheActive) return true;
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
    if (cacheActive) return decodeRecord(cache.record(file, offset / RecordSize));
    uint8_t bytes[RecordSize];
    if (!platform::readAt(file, offset, bytes, RecordSize)) throw DatabaseError{};
    return decodeRecord(bytes);
}

// Writes happen only in a store, through the cache.
void ExperienceDatabase::writeRecord(int32_t offset, const NodeRecord& record) {
    requireOpen();
    checkLink(offset);
    if (!cacheActive || storeDepth == 0) throw DatabaseError{};
    uint8_t bytes[RecordSize];
    encodeRecord(record, bytes);
    cache.change(file, offset / RecordSize, bytes);
    if (!staging) writeStaged();
}

int32_t ExperienceDatabase::appendRecord(const NodeRecord& record) {
    requireOpen();
    if (!cacheActive || storeDepth == 0) throw DatabaseError{};
    // A file at the reach of 32-bit links (or at the size limit of a line
    // being worked out) takes no more.
    if (cache.records() >= std::min(MaxRecords, appendLimit)) {
        appendLimitReached = true;
        throw DatabaseError{};
    }
    uint8_t bytes[RecordSize];
    encodeRecord(record, bytes);
    const int32_t index = cache.append(file, bytes);
    records = cache.records();
    if (!staging) writeStaged();
    return index * RecordSize;
}

void ExperienceDatabase::writeStaged() {
    try {
        cache.writeChanges(file);
    } catch (...) {
        forgetCache();
        throw;
    }
}

// After a failed write the file, not the cache, says what is there.
void ExperienceDatabase::forgetCache() {
    cache.clear();
    cacheStamp = 0;
    stagedLines.clear();
    if (!cacheActive) return;
    const int64_t size = platform::fileSize(file);
    records = size < 0 ? 0 : int32_t(std::min<int64_t>(size, MaxFileBytes) / RecordSize);
    tornBytes = 0;
    cache.setFileRecords(records);
}

template <class Visit>
void ExperienceDatabase::walkChildren(Visit visit) {
    // Another process may have given the node its first child since it was read.
    current = readRecord(currentOffset);
    const int32_t node = currentOffset / RecordSize;
    // A long chain walked before (and not changed since) is read from its
    // list: its records are then read side by side instead of one after another.
    if (const std::vector<int32_t>* chain = cacheActive ? cache.chainOf(node) : nullptr) {
        for (const int32_t index : *chain)
            if (visit(index * RecordSize, decodeRecord(cache.record(file, index)))) return;
        return;
    }
    std::vector<int32_t> walked;
    int32_t offset = current.firstChild;
    for (int32_t steps = 0; offset != NoRecord; ++steps) {
        if (offset == currentOffset || beyondRecords(steps)) throw DatabaseError{};  // a cycle
        const NodeRecord child = readRecord(offset);
        if (child.parent != currentOffset) throw DatabaseError{};
        if (cacheActive) walked.push_back(offset / RecordSize);
        if (visit(offset, child)) return;
        offset = child.nextSibling;
    }
    if (cacheActive) cache.keepChain(node, std::move(walked));
}

// A read without the lock can meet a record while another process rewrites
// it, half old and half new; a link torn that way fails the checks. The read
// is made once more under a shared lock, which waits for the writer to end (or,
// if the writer takes too long, once more without it).
template <class Read>
auto ExperienceDatabase::readSteadily(Read read) {
    if (storeDepth > 0 || cacheActive) return read();  // the store's own lock keeps writers out
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
    // The walk reads the node again: what it was before the lock is no guide.
    int32_t previous = currentOffset;
    bool found = false;
    walkChildren([&](int32_t offset, const NodeRecord& child) {
        if (child.move != move) {
            previous = offset;
            return false;
        }
        current = child;
        currentOffset = offset;
        found = true;
        return true;
    });
    if (found) return true;
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

constexpr size_t PendingMaxMoves = 1024;
constexpr size_t PendingMaxBytes = size_t(64) << 20;

}  // namespace

void ExperienceDatabase::mergeLine(const std::vector<int32_t>& moves, const std::vector<NodeStats>& stats) {
    requireOpen();
    if (!validLine(moves, stats) || moves.size() > PendingMaxMoves) throw DatabaseError{};
    const StoreLock lock(*this, OfflineStoreWaitMs);
    if (!lock.ready()) throw DatabaseError{};
    stageLine(moves, stats);
    if (!batchOpen) commitLines();
}

// Works the line out in the cache; a line that fails there, or would take
// the file past `limit` records (false), leaves the cache and the cursor as
// they were.
bool ExperienceDatabase::stageWithin(const std::vector<int32_t>& moves, const std::vector<NodeStats>& stats,
                                     int32_t limit) {
    const NodeRecord cursor = current;
    const int32_t cursorOffset = currentOffset;
    const RecordCache::Mark before = cache.mark();
    staging = true;
    appendLimit = limit;
    appendLimitReached = false;
    try {
        storeLine(moves, stats);
    } catch (...) {
        staging = false;
        appendLimit = MaxRecords;
        cache.rollBack(before);
        records = cache.records();
        current = cursor;
        currentOffset = cursorOffset;
        if (appendLimitReached) return false;
        throw;
    }
    staging = false;
    appendLimit = MaxRecords;
    cache.keepChanges();
    return true;
}

void ExperienceDatabase::stageLine(const std::vector<int32_t>& moves, const std::vector<NodeStats>& stats) {
    if (full || !stageWithin(moves, stats, recordLimit())) {
        full = true;
        throw DatabaseError{};
    }
    if (!batchOpen) stagedLines.clear();
    stagedLines.push_back({moves, stats});
}

// The marker first, then the records; a line that changed nothing needs neither.
void ExperienceDatabase::commitLines() {
    if (!cache.hasChanges()) {
        stagedLines.clear();
        return;
    }
    try {
        markPendingLines(stagedLines);
    } catch (...) {
        forgetCache();
        throw;
    }
    stagedLines.clear();
    writeStaged();
    removePendingStore();
}

ExperienceDatabase::StoreBatch::StoreBatch(ExperienceDatabase& db, int32_t waitMs) : lock(db, waitMs) {
    if (!lock.ready()) return;
    db.batchOpen = true;
    db.stagedLines.clear();
}

ExperienceDatabase::StoreBatch::~StoreBatch() {
    if (!lock.ready()) return;
    ExperienceDatabase& db = lock.database;
    db.batchOpen = false;
    if (db.cache.hasChanges()) db.forgetCache();
    db.stagedLines.clear();
}

void ExperienceDatabase::StoreBatch::commit() {
    if (!lock.ready()) throw DatabaseError{};
    ExperienceDatabase& db = lock.database;
    db.requireOpen();
    db.commitLines();
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
    if (full) return StoreStart::Full;
    if (!platform::lockFile(file, platform::LockMode::Exclusive, waitMs)) return StoreStart::Busy;
    storeDepth = 1;
    try {
        readFileSizeNow();
        if (!trustCacheAndCount() || tornBytes > 0) cache.clear();
        cache.setFileRecords(records);
        cacheActive = true;
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

// Raises the stamp; true when what the cache holds is still the file: the
// stamp is the one this process left, and the size what it wrote.
bool ExperienceDatabase::trustCacheAndCount() {
    uint64_t seen = 0;
    const uint64_t raised = raiseStamp(filePath, seen);
    const bool trusted = cacheStamp != 0 && seen == cacheStamp && cache.fileRecords() == records;
    cacheStamp = raised;
    return trusted;
}

void ExperienceDatabase::endStore() {
    if (storeDepth == 0 || --storeDepth > 0) return;
    cacheActive = snapshotDepth > 0;
    staging = false;
    // Changes never written belong to a store that failed.
    if (cache.hasChanges()) {
        cache.clear();
        cacheStamp = 0;
    }
    stagedLines.clear();
    trimCache();
    if (!file) return;
    platform::unlockFile(file);
}

void ExperienceDatabase::trimCache() {
    if (cacheActive || cache.bytesHeld() <= cacheBudget) return;
    cache.clear();
    cacheStamp = 0;
}

// Reads the file in large blocks and looks at the three links of each record
// where they lie: the first store of a process reads it all.
bool ExperienceDatabase::linksSoundFrom(int32_t first) {
    if (records == 0) return false;
    constexpr int32_t Block = 1 << 14;
    std::vector<uint8_t> bytes(size_t(std::min(Block, records - first)) * RecordSize);
    const uint32_t end = uint32_t(records) * RecordSize;
    for (int32_t at = first; at < records; at += Block) {
        const int32_t count = std::min(Block, records - at);
        // A hole in the file reads as records of zeros, whose links all name the root.
        const int64_t data = platform::dataFrom(file, int64_t(at) * RecordSize);
        if (data < 0) break;
        if (data >= int64_t(at + count) * RecordSize) continue;
        if (!platform::readAt(file, int64_t(at) * RecordSize, bytes.data(), size_t(count) * RecordSize))
            throw DatabaseError{};
        for (int32_t i = 0; i < count; ++i) {
            const uint8_t* r = bytes.data() + size_t(i) * RecordSize;
            for (int field = 4; field < 16; field += 4) {
                const uint32_t link = uint32_t(r[field]) | uint32_t(r[field + 1]) << 8 |
                                      uint32_t(r[field + 2]) << 16 | uint32_t(r[field + 3]) << 24;
                if (link != uint32_t(NoRecord) && (link >= end || link % RecordSize != 0)) return false;
            }
        }
    }
    return true;
}

void ExperienceDatabase::beginSnapshot() {
    requireOpen();
    if (snapshotDepth++ > 0 || cacheActive) return;
    // Read without a lock, then make sure that no store came in between; a
    // file that keeps changing (or has no stamp) is read under a shared lock.
    const auto look = [&](uint64_t& stamp, int64_t& size) {
        if (!platform::lockFile(file, platform::LockMode::Shared, OfflineStoreWaitMs)) return false;
        stamp = peekStamp(filePath);
        size = platform::fileSize(file);
        platform::unlockFile(file);
        return stamp != 0 && size >= 0;
    };
    const auto load = [&](int64_t size) {
        cache.clear();
        cache.setFileRecords(int32_t(std::min<int64_t>(size, MaxFileBytes) / RecordSize));
        cache.loadAll(file);
    };
    try {
        constexpr int Attempts = 3;
        bool consistent = false;
        for (int attempt = 0; attempt < Attempts && !consistent; ++attempt) {
            uint64_t before = 0, after = 0;
            int64_t size = 0, sizeAfter = 0;
            if (!look(before, size)) break;
            load(size);
            consistent = look(after, sizeAfter) && after == before && sizeAfter == size;
        }
        if (!consistent) {
            const bool locked = platform::lockFile(file, platform::LockMode::Shared, OfflineStoreWaitMs);
            try {
                const int64_t size = platform::fileSize(file);
                if (size < 0) throw DatabaseError{};
                load(size);
            } catch (...) {
                if (locked) platform::unlockFile(file);
                throw;
            }
            if (locked) platform::unlockFile(file);
        }
    } catch (...) {
        snapshotDepth = 0;
        cache.clear();
        throw;
    }
    cacheStamp = 0;
    records = cache.records();
    cacheActive = true;
}

void ExperienceDatabase::endSnapshot() {
    if (snapshotDepth == 0 || --snapshotDepth > 0 || storeDepth > 0) return;
    cacheActive = false;
    cache.clear();  // the memory of a whole file is given back
    cacheStamp = 0;
}

void ExperienceDatabase::markPendingStore(const std::vector<int32_t>& moves, const std::vector<NodeStats>& stats) {
    requireOpen();
    if (!validLine(moves, stats) || moves.size() > PendingMaxMoves) throw DatabaseError{};
    markPendingLines({{moves, stats}});
}

void ExperienceDatabase::markPendingLines(const std::vector<PendingLine>& lines) {
    const std::string path = pendingStorePath(filePath);
    const platform::FileKind kind = platform::fileKind(path);
    if (kind != platform::FileKind::Regular && kind != platform::FileKind::Missing) throw DatabaseError{};
    const std::vector<uint8_t> bytes = encodePendingLines(lines);
    std::FILE* marker = std::fopen(path.c_str(), "wb");
    if (!marker) throw DatabaseError{};
    std::setvbuf(marker, nullptr, _IONBF, 0);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), marker) == bytes.size();
    const bool closed = std::fclose(marker) == 0;
    if (!written || !closed) {
        // Nothing of the lines is stored yet: no marker is better than a torn one.
        removePendingStore();
        throw DatabaseError{};
    }
}

void ExperienceDatabase::removePendingStore() { std::remove(pendingStorePath(filePath).c_str()); }

// A marker that does not hold whole lines was cut short before its store
// wrote anything, and is dropped; so are lines that no longer fit the file.
void ExperienceDatabase::finishPendingStore() {
    const std::string path = pendingStorePath(filePath);
    if (platform::fileKind(path) != platform::FileKind::Regular) return;
    std::FILE* marker = std::fopen(path.c_str(), "rb");
    if (!marker) return;
    std::vector<uint8_t> bytes;
    uint8_t block[1 << 14];
    for (size_t n; bytes.size() <= PendingMaxBytes && (n = std::fread(block, 1, sizeof block, marker)) > 0;)
        bytes.insert(bytes.end(), block, block + n);
    std::fclose(marker);
    // Each line was refused, or stored with nothing more than it needed, if it
    // did not fit when it began: a line that does not fit now was never begun.
    for (const PendingLine& line : decodePendingLines(bytes))
        if (validLine(line.moves, line.stats)) stageWithin(line.moves, line.stats, MaxRecords);
    writeStaged();
    removePendingStore();
}

void ExperienceDatabase::setSizeLimit(int64_t bytes) {
    sizeCap = bytes > 0 && bytes < MaxFileBytes ? bytes / RecordSize * RecordSize : 0;
}

std::string ExperienceDatabase::sizeLimitReport() const {
    if (!full) return "";
    if (sizeCap > 0)
        return "MESSAGE The experience file " + filePath + " would pass its cap of " + std::to_string(sizeCap) +
               " bytes: the game is not stored, and nothing more is learned in this run";
    return "MESSAGE The experience file " + filePath + " is full (" + std::to_string(records) + " of " +
           std::to_string(MaxRecords) + " records): nothing more is stored into it";
}

std::string ExperienceDatabase::damageReport() {
    if (!damaged || damageReported) return "";
    damageReported = true;
    return "MESSAGE The experience file " + filePath +
           " is damaged (a link points outside it): nothing is stored into it in this run; \"db check\" shows more";
}
