#include <cstdio>
#include <vector>

#include "knowledge/experience_database.h"
#include "knowledge/pending_store.h"
#include "platform/data_directory.h"
#include "platform/file_kind.h"

// Crash recovery: the lines of a store are written beside the file before
// the store writes anything, and removed when it has written them all, so a
// store cut short is finished by the next one.

void ExperienceDatabase::markPendingStore(const std::vector<int32_t>& moves, const std::vector<NodeStats>& stats) {
    requireOpen();
    if (!validLine(moves, stats) || moves.size() > PendingMaxMoves) throw DatabaseError{};
    markPendingLines({{moves, stats}});
}

void ExperienceDatabase::markPendingLines(const std::vector<PendingLine>& lines) {
    const std::string path = platform::pendingStorePath(filePath);
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

void ExperienceDatabase::removePendingStore() { std::remove(platform::pendingStorePath(filePath).c_str()); }

// A marker that does not hold whole lines was cut short before its store
// wrote anything, and is dropped; so are lines that no longer fit the file.
void ExperienceDatabase::finishPendingStore() {
    const std::string path = platform::pendingStorePath(filePath);
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
