#include <algorithm>
#include <vector>

#include "board/cell.h"
#include "knowledge/child_walk.h"
#include "knowledge/experience_database.h"
#include "knowledge/pending_store.h"
#include "knowledge/store_stamp.h"
#include "platform/shared_file.h"

// The store: the exclusive lock with its checks on the way in, and the lines
// worked out in the cache and written together at its end.

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

void ExperienceDatabase::setSizeLimit(int64_t bytes) {
    sizeCap = bytes > 0 && bytes < MaxFileBytes ? bytes / RecordSize * RecordSize : 0;
}

bool ExperienceDatabase::takeDamageNotice() {
    if (!damaged || damageReported) return false;
    damageReported = true;
    return true;
}
