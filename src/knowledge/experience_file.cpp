#include <algorithm>
#include <filesystem>
#include <vector>

#include "knowledge/experience_database.h"
#include "knowledge/pending_store.h"
#include "knowledge/store_stamp.h"
#include "platform/data_directory.h"
#include "platform/directory.h"
#include "platform/file_kind.h"
#include "platform/shared_file.h"

// The record file: opening, creating and closing it, its size, and every
// read and write of one record, each link checked before it is followed.

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
        std::remove(platform::pendingStorePath(path).c_str());
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
