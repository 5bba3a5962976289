#include <algorithm>

#include "knowledge/experience_database.h"
#include "knowledge/store_stamp.h"
#include "platform/shared_file.h"

// What this process knows of the file in memory: the store's cache, kept
// while the stamp says it is still the file, and the snapshot of a whole walk.

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

void ExperienceDatabase::trimCache() {
    if (cacheActive || cache.bytesHeld() <= cacheBudget) return;
    cache.clear();
    cacheStamp = 0;
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
